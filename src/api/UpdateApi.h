#pragma once

#include <string>

class TransferAbort;

// Asks the web API for the update address; true with the body in `answer`.
// `abort`, when given, lets another thread end the request.
bool RequestUpdateUrl(std::string& answer, TransferAbort* abort = nullptr);
// Starts AutoUpdate.exe beside the program with "start", the address and the
// process id, detached; logs "更新地址为空，不能更新。" when the address is empty.
void LaunchUpdater(const std::wstring& updateUrl);
