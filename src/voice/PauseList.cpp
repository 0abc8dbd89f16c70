#include "voice/PauseList.h"

#include <tinyxml2.h>

#include "app/AtomicFile.h"
#include "app/Helpers.h"
#include "app/LogHelper.h"

namespace {
std::string PauseListPath() {
    return WideToAnsi(GetModuleDir()) + "Audio/Audio.xml";
}
}  // namespace

bool GetPauseProList(std::vector<std::string>& names) {
    tinyxml2::XMLDocument document;
    if (document.LoadFile(PauseListPath().c_str()) != tinyxml2::XML_SUCCESS) {
        LogHelper::GetInstance()->Error("GetPauseProList 打开Audio.xml文件失败.");
        return false;
    }
    const tinyxml2::XMLElement* audios = document.FirstChildElement("Audios");
    if (audios == nullptr) {
        LogHelper::GetInstance()->Error("GetPauseProList 获取Audios节点失败.");
        return false;
    }
    // From the first "Audio" on, every following element counts, whatever its
    // name; its first attribute holds the program name.
    for (const tinyxml2::XMLElement* item = audios->FirstChildElement("Audio"); item != nullptr;
         item = item->NextSiblingElement()) {
        const tinyxml2::XMLAttribute* first = item->FirstAttribute();
        if (first == nullptr) {
            continue;
        }
        const std::string name = first->Value();
        if (!name.empty()) {
            names.push_back(ToUpper(name));
        }
    }
    return true;
}

bool SavePauseProList(const std::vector<std::string>& names) {
    try {
        tinyxml2::XMLDocument document;
        tinyxml2::XMLElement* audios = document.NewElement("Audios");
        document.InsertEndChild(audios);
        for (const std::string& name : names) {
            tinyxml2::XMLElement* item = document.NewElement("Audio");
            item->SetAttribute("Name", name.c_str());
            audios->InsertEndChild(item);
        }
        // Replaced whole, so a failed write never leaves a half list behind;
        // the caller learns of the failure.
        const std::string path = PauseListPath();
        CreateDirs(path);
        tinyxml2::XMLPrinter printer;
        document.Print(&printer);
        AtomicFile file(path);
        if (!file.Write(printer.CStr(), static_cast<size_t>(printer.CStrSize() - 1)) ||
            !file.Commit()) {
            LogHelper::GetInstance()->Error("SavePauseProList 保存Audio.xml文件失败.");
            return false;
        }
        return true;
    } catch (...) {
        return false;
    }
}
