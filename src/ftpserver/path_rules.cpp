#include "ftpserver/path_rules.h"

#include <algorithm>
#include <vector>

namespace vesk2::ftpserver {

namespace {

std::string withSlashes(std::string text)
{
    std::replace(text.begin(), text.end(), '\\', '/');
    return text;
}

// A directory text as a prefix: with its "/" even if a caller left it off.
std::string asDirectory(const std::string& dir)
{
    return (!dir.empty() && dir.back() == '/') ? dir : dir + "/";
}

char upperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool startsWithIgnoringCase(const std::string& text, const std::string& prefix)
{
    if (prefix.size() > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (upperAscii(text[i]) != upperAscii(prefix[i])) {
            return false;
        }
    }
    return true;
}

} // namespace

std::string CollapsePath(const std::string& path)
{
    std::vector<std::string> kept;
    std::string lastSegment;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        std::string segment = path.substr(start, slash - start);
        if (segment == "..") {
            if (!kept.empty()) {
                kept.pop_back();
            }
        } else if (!segment.empty() && segment != ".") {
            kept.push_back(segment);
        }
        lastSegment = std::move(segment);
        start = slash + 1;
    }
    // lastSegment is empty when the path ended in "/".
    const bool namesDirectory = lastSegment.empty() || lastSegment == "." || lastSegment == "..";

    std::string out = "/";
    for (std::size_t i = 0; i < kept.size(); ++i) {
        out += kept[i];
        if (i + 1 < kept.size() || namesDirectory) {
            out += '/';
        }
    }
    return out;
}

std::string BuildFilePath(const std::string& dir, const std::string& name)
{
    const std::string rest = withSlashes(name);
    if (!rest.empty() && rest[0] == '/') {
        return CollapsePath(rest);
    }
    return CollapsePath(asDirectory(dir) + rest);
}

ChangeDirResult ChangeWorkDir(const std::string& workDir, const std::string& requested)
{
    const std::string path = withSlashes(requested);
    if (path == workDir) {
        return {workDir, {}};
    }
    if (path == "..") {
        // The parent is built from the current directory, not from client text,
        // so the dot-notation rule does not apply to it.
        return {CollapsePath(asDirectory(workDir) + "../"), {}};
    }
    if (path.find("./") != std::string::npos) {
        return {{}, kDotNotationError};
    }
    std::string full;
    if (path.empty() || path == ".") {
        full = workDir;
    } else if (path[0] == '/') {
        full = path;
    } else {
        full = asDirectory(workDir) + path;
    }
    return {CollapsePath(full + "/"), {}};
}

std::string MapVirtualToReal(const VirtualDirTable& table, const std::string& text)
{
    for (const VirtualDirEntry& entry : table) {
        if (entry.isFree() || entry.VirtualMap.empty()) {
            continue;
        }
        if (startsWithIgnoringCase(text, entry.VirtualMap)) {
            return CollapsePath(entry.DirectoryPath + text.substr(entry.VirtualMap.size()));
        }
    }
    return text;
}

std::string MapRealToVirtual(const VirtualDirTable& table, const std::string& text)
{
    for (const VirtualDirEntry& entry : table) {
        if (entry.isFree()) {
            continue;
        }
        if (text.compare(0, entry.DirectoryPath.size(), entry.DirectoryPath) == 0) {
            return entry.VirtualMap + text.substr(entry.DirectoryPath.size());
        }
    }
    return text;
}

std::string ResolveClientPath(const VirtualDirTable& table, const std::string& workDir,
                              const std::string& argument)
{
    const std::string full = BuildFilePath(workDir, argument);
    const bool absolute = !argument.empty() && (argument[0] == '/' || argument[0] == '\\');
    return absolute ? MapVirtualToReal(table, full) : full;
}

std::string PwdDisplay(const VirtualDirTable& table, const std::string& workDir)
{
    return MapRealToVirtual(table, workDir);
}

} // namespace vesk2::ftpserver
