// The program's message texts that tests of the pages and of the command
// line both expect, written out once.
#pragma once

namespace snip::test {

inline constexpr char kSplitCompleted[] = "Track creation completed successfully.";
inline constexpr char kSplitCancelled[] = "Track creation has been cancelled.";
inline constexpr char kSplitFileError[] = "There has been a file error while trying to create tracks.  Please try again.";
inline constexpr char kJoinCompleted[] = "Track joining completed successfully.";
inline constexpr char kJoinFileError[] = "There has been a file error while trying to join tracks.  Please try again.";
inline constexpr char kJoinOverInput[] =
    "The destination file is also in the list of tracks to join.  Please choose another destination.";

}  // namespace snip::test
