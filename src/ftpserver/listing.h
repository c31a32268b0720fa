#pragma once
// The text of LIST and NLST output, the MDTM time text and the SIZE lookup.
//
// Every line ends in CR LF. LIST lines look like
//   "-rw-rw-rw-   1 ftp      ftp         1234 Apr 05 14:03 name"
// (the client's listing parser reads exactly this). Dates are the local time
// of the modification time; an entry of the current year shows the time of
// day, older or newer ones the year. "Now" is a parameter so that the year
// rule does not depend on when it runs.

#include "ftpserver/virtual_tables.h"
#include "platform/clock.h"
#include "platform/file_system.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vesk2::ftpserver {

// The fixed line of one permanent link, without the name part.
inline constexpr const char* kPermanentLinkPrefix = "lrw-rw-rw-   1 ftp      ftp          289 Apr 21 08:32 ";
inline constexpr const char* kNotFoundSuffix = " not found";

// The pattern LIST or NLST with `argument` searches in `workDir`: `workDir`
// + "*.*" for an empty argument; else `BuildFilePath` of the two, with "*.*"
// appended when it ends in "/" or names an existing directory (so that a
// directory lists its contents). No virtual-directory mapping is applied.
// Options are not recognised: "-la" is a name like any other.
std::string listingPattern(const std::string& workDir, const std::string& argument);

// The directory a pattern searches: everything up to and including its last
// "/". The handler checks the List right on it.
std::string patternDirectory(const std::string& pattern);

// One detailed (LIST) line for `entry`, or an empty text for a hidden entry.
// `displayedName` is the name as shown (a link's name already carries
// " -> " and its target); `link` makes the first mode character "l".
std::string detailedLine(const platform::DirEntry& entry, const std::string& displayedName, bool link,
                         int currentYear);

// One NLST line: the name and CR LF.
std::string namesOnlyLine(const platform::DirEntry& entry);

// The line of one permanent link: the fixed prefix, the link name, " -> " and
// the target as the client sees it.
std::string permanentLinkLine(const PermanentLinkEntry& link, const VirtualDirTable& virtualDirs);

// Outcome of building a listing.
struct ListingResult {
    std::string text;            // the whole listing
    std::string error;           // a shortcut could not be read; empty when ok
    bool ok() const { return error.empty(); }
};

// The whole listing of `pattern` (see listingPattern): one line per entry the
// directory search returns, then the permanent links (every used entry except
// a link to the directory the pattern lists, case ignored, also in NLST
// output), or pattern + " not found" when nothing was written.
// A shortcut (a name containing ".LNK" in any case) is shown as a link to its
// target, which is read here; a read failure fails the whole listing.
ListingResult buildListingOfPattern(const std::string& pattern, bool detailed, const PermanentLinkTable& links,
                                    const VirtualDirTable& virtualDirs, platform::TimePoint now);

// The same for the argument of LIST or NLST in `workDir`.
ListingResult buildListing(const std::string& workDir, const std::string& argument, bool detailed,
                           const PermanentLinkTable& links, const VirtualDirTable& virtualDirs,
                           platform::TimePoint now);

// "YYYYMMDDHHMMSS.mmm": the file's modification time in UTC, or nullopt
// when there is nothing at the path. A path ending in "/" names its directory.
std::optional<std::string> mdtmTimeText(const std::string& path);

// The size in bytes of exactly this path (hidden and read-only entries
// included), or -1 when there is nothing there.
std::int64_t fileSize(const std::string& path);

} // namespace vesk2::ftpserver
