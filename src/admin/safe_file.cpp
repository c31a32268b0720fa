#include "admin/safe_file.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace vesk2::admin {

namespace fs = std::filesystem;

std::string pendingWriteName(const std::string& path) { return path + ".new"; }

bool fileExists(const std::string& path)
{
    std::error_code ec;
    return fs::is_regular_file(path, ec);
}

void removeFileQuietly(const std::string& path)
{
    std::error_code ec;
    if (fs::is_regular_file(path, ec))
        fs::remove(path, ec);
}

FileRead readWholeFile(const std::string& path)
{
    FileRead result;
    std::error_code ec;
    if (!fs::exists(path, ec) && !ec) {
        result.status = FileRead::Status::Missing;
        return result;
    }
    std::ifstream in(path, std::ios::binary);
    if (in && fs::is_regular_file(path, ec)) {
        result.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (!in.bad())
            return result;
    }
    result.status = FileRead::Status::Failed;
    result.bytes.clear();
    result.error = "I/O error: cannot read \"" + path + "\".";
    return result;
}

std::string writeFileSafely(const std::string& path, const std::string& bytes)
{
    const std::string pending = pendingWriteName(path);
    const std::string failure = "I/O error: cannot write \"" + path + "\".";
    {
        std::ofstream out(pending, std::ios::binary | std::ios::trunc);
        if (!out)
            return failure;
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (out.fail()) {
            removeFileQuietly(pending);
            return failure;
        }
    }
    std::error_code ec;
    fs::rename(pending, path, ec);
    if (ec) {
        removeFileQuietly(pending);
        return failure;
    }
    return {};
}

std::string copyFileSafely(const std::string& from, const std::string& to)
{
    FileRead source = readWholeFile(from);
    if (source.status == FileRead::Status::Missing)
        return "I/O error: cannot read \"" + from + "\".";
    if (source.status == FileRead::Status::Failed)
        return source.error;
    return writeFileSafely(to, source.bytes);
}

} // namespace vesk2::admin
