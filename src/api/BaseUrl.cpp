#include "api/BaseUrl.h"

#include "app/IniHelper.h"

std::string GetBaseUrl() {
    const std::string& url = IniHelper::GetInstance()->Settings().url;
    return url.empty() ? std::string(VOICE_DEFAULT_API_URL) : url;
}
