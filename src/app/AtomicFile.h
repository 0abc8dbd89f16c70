#pragma once

#include <string>

// Replaces the file at `path` with `content` so that a reader, a crash or a
// full disk only ever leaves the old file or the new one, never a mix: the
// bytes go to a new file beside it, are flushed to the disk, and take the old
// file's place in one rename. False (and the old file untouched, no stray
// temporary left) when any step fails. The new file keeps the old one's
// permissions (0644 when there was none), unless `mode` names them.
// An existing file this process may not write (made read-only by its owner)
// is refused rather than replaced, as writing it in place would be.
bool WriteFileAtomically(const std::string& path, const std::string& content, int mode = -1);
