#include "app/LoginRecord.h"

#include <tinyxml2.h>

#include "app/AtomicFile.h"
#include "app/Helpers.h"
#include "app/LogHelper.h"
#include "app/PasswordCipher.h"

namespace {

const char* const kDeclaration = R"(<?xml version="1.0" encoding="UTF-8" standalone="no"?>)";
const char* const kOpenFailed = "打开本地登录文件SystemInfo.xml失败.";
const char* const kNoLogin = "读取Login节点出错.";

std::string RecordPath() {
    return WideToAnsi(GetModuleDir()) + "SystemInfo.xml";
}

// The text of an element is its first child when that is text; anything else
// (no element, no child, a child element) reads as empty.
const char* TextOf(const tinyxml2::XMLElement* element) {
    if (element == nullptr || element->FirstChild() == nullptr ||
        element->FirstChild()->ToText() == nullptr) {
        return nullptr;
    }
    return element->FirstChild()->Value();
}

std::string DecryptedText(const tinyxml2::XMLElement* login, const char* name) {
    const char* text = TextOf(login->FirstChildElement(name));
    return text == nullptr ? std::string() : DecryptPassword(text);
}

void AddChild(tinyxml2::XMLDocument& doc, tinyxml2::XMLElement* parent, const char* name,
              const std::string& plain) {
    tinyxml2::XMLElement* child = doc.NewElement(name);
    child->InsertEndChild(doc.NewText(EncryptPassword(plain).c_str()));
    parent->InsertEndChild(child);
}

// The document as tinyxml2's indented printer writes it, written in one piece
// so that a failed write never costs the saved login that was there. The key
// of the cipher is in every copy of the program, so the file itself is what
// keeps the password from other users of the machine.
bool Store(const tinyxml2::XMLDocument& doc, const std::string& path) {
    tinyxml2::XMLPrinter printer;
    doc.Print(&printer);
    return WriteFileAtomically(path, std::string(printer.CStr(), printer.CStrSize() - 1), 0600);
}

// Loads the file and finds its Login element, logging why when it cannot.
tinyxml2::XMLElement* LoadLogin(tinyxml2::XMLDocument& doc, const std::string& path) {
    if (doc.LoadFile(path.c_str()) != tinyxml2::XML_SUCCESS) {
        LogHelper::GetInstance()->Error(kOpenFailed);
        return nullptr;
    }
    tinyxml2::XMLElement* login = doc.FirstChildElement("Login");
    if (login == nullptr) {
        LogHelper::GetInstance()->Error(kNoLogin);
    }
    return login;
}

}  // namespace

bool SaveLoginRecord(int type, bool autoLogin, const std::string& loginName,
                     const std::string& loginPwd, const std::string& loginStaff,
                     const std::string& port) {
    try {
        tinyxml2::XMLDocument doc;
        doc.Parse(kDeclaration);
        tinyxml2::XMLElement* login = doc.NewElement("Login");
        doc.InsertEndChild(login);
        AddChild(doc, login, "Type", type == 1 ? "1" : "0");
        AddChild(doc, login, "LoginName", loginName);
        AddChild(doc, login, "LoginPWD", loginPwd);
        if (type == 1 && !loginStaff.empty()) {
            AddChild(doc, login, "LoginStaff", loginStaff);
        }
        AddChild(doc, login, "Port", port);
        AddChild(doc, login, "AutoLogin", autoLogin ? "1" : "0");
        if (!Store(doc, RecordPath())) {
            LogHelper::GetInstance()->Error("保存SystemInfo.xml失败.");
            return false;
        }
        return true;
    } catch (...) {
        LogHelper::GetInstance()->Error("保存SystemInfo.xml异常.");
        return false;
    }
}

bool ReadLoginRecord(LoginRecord& record) {
    try {
        tinyxml2::XMLDocument doc;
        const tinyxml2::XMLElement* login = LoadLogin(doc, RecordPath());
        if (login == nullptr) {
            return false;
        }
        LoginRecord read;
        read.type = DecryptedText(login, "Type") == "1" ? 1 : 0;
        read.loginName = DecryptedText(login, "LoginName");
        read.loginPwd = DecryptedText(login, "LoginPWD");
        read.port = DecryptedText(login, "Port");
        read.loginStaff = DecryptedText(login, "LoginStaff");
        // Saving enciphers the mark and logging out writes a plain "0", so
        // only that exact text means off; a mark that is not there at all
        // does not log anyone in.
        const char* mark = TextOf(login->FirstChildElement("AutoLogin"));
        read.autoLogin = mark != nullptr && std::string(mark) != "0";
        record = std::move(read);
        return true;
    } catch (...) {
        LogHelper::GetInstance()->Error("解析SystemInfo.xml异常.");
        return false;
    }
}

bool Logout() {
    try {
        const std::string path = RecordPath();
        tinyxml2::XMLDocument doc;
        tinyxml2::XMLElement* login = LoadLogin(doc, path);
        if (login == nullptr) {
            return false;
        }
        tinyxml2::XMLElement* mark = login->FirstChildElement("AutoLogin");
        if (mark == nullptr) {
            mark = doc.NewElement("AutoLogin");
            login->InsertEndChild(mark);
        }
        if (mark->FirstChild() != nullptr && mark->FirstChild()->ToText() != nullptr) {
            mark->FirstChild()->SetValue("0");
        } else {
            mark->InsertFirstChild(doc.NewText("0"));
        }
        if (!Store(doc, path)) {
            LogHelper::GetInstance()->Error("Logout保存SystemInfo.xml失败.");
            return false;
        }
        return true;
    } catch (...) {
        LogHelper::GetInstance()->Error("Logout操作xml异常.");
        return false;
    }
}
