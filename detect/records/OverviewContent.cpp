#include "OverviewContent.h"

#include "FolderNames.h"

namespace pelmora {

std::string cameraOfVideo(const std::string& videoPath) {
    std::string folder = videoPath;
    for (int up = 0; up < 2; ++up) {
        const std::string::size_type slash = folder.rfind('/');
        if (slash == std::string::npos) {
            return std::string();
        }
        folder.erase(slash);
        const std::string::size_type before = folder.rfind('/');
        const std::string name = before == std::string::npos ? folder : folder.substr(before + 1);
        if (name.empty() || name == "." || name == "..") {
            return std::string();
        }
        if (up == 0 && isDateFolderName(name)) {
            continue;
        }
        return name;
    }
    return std::string();
}

}  // namespace pelmora
