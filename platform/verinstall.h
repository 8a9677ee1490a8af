// Installing one file with a version check, in the manner of the system installer call that
// setup programs use: the result is a set of bits that say why a file was not installed.
//
// The new file is written under a temporary name in the destination folder and renamed over the
// old one, so a program that is running from the old file keeps running and is replaced at
// once; a file is therefore never "in use" and nothing is left for a later restart.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// Flags of VerInstallFile.
inline constexpr unsigned VIFF_FORCEINSTALL = 0x1;  // install even over a newer or write-protected file

// Result bits. 0 means the file was installed.
inline constexpr std::uint32_t VIF_TEMPFILE = 0x1;
inline constexpr std::uint32_t VIF_MISMATCH = 0x2;
inline constexpr std::uint32_t VIF_SRCOLD = 0x4;  // the existing file is newer than the source
inline constexpr std::uint32_t VIF_DIFFLANG = 0x8;
inline constexpr std::uint32_t VIF_DIFFCODEPG = 0x10;
inline constexpr std::uint32_t VIF_DIFFTYPE = 0x20;  // the destination is not a regular file
inline constexpr std::uint32_t VIF_WRITEPROT = 0x40;  // existing file read-only, or a read-only file system
inline constexpr std::uint32_t VIF_FILEINUSE = 0x80;
inline constexpr std::uint32_t VIF_OUTOFSPACE = 0x100;
inline constexpr std::uint32_t VIF_ACCESSVIOLATION = 0x200;
inline constexpr std::uint32_t VIF_SHARINGVIOLATION = 0x400;
inline constexpr std::uint32_t VIF_CANNOTCREATE = 0x800;
inline constexpr std::uint32_t VIF_CANNOTDELETE = 0x1000;
inline constexpr std::uint32_t VIF_CANNOTRENAME = 0x2000;
inline constexpr std::uint32_t VIF_CANNOTDELETECUR = 0x4000;
inline constexpr std::uint32_t VIF_OUTOFMEMORY = 0x8000;
inline constexpr std::uint32_t VIF_CANNOTREADSRC = 0x10000;
inline constexpr std::uint32_t VIF_CANNOTREADDST = 0x20000;
inline constexpr std::uint32_t VIF_BUFFTOOSMALL = 0x40000;

// Copies srcDir/srcFileName to destDir/destFileName. Without VIFF_FORCEINSTALL an existing
// destination whose version record is newer than the source's gives VIF_SRCOLD, and one that is
// not writable gives VIF_WRITEPROT; a file without a record counts as version 0, so equal or
// unversioned files are simply replaced. The new file gets the source's permission bits.
// Failures map errno to the bits: ENOSPC, EDQUOT and EFBIG (a file size limit, when SIGXFSZ is
// ignored) to VIF_OUTOFSPACE, EACCES and EPERM to VIF_ACCESSVIOLATION, EROFS to VIF_WRITEPROT,
// ETXTBSY to VIF_FILEINUSE, ENOMEM to VIF_OUTOFMEMORY, ENAMETOOLONG to VIF_BUFFTOOSMALL. On any
// failure the old file is left as it was and no temporary file remains.
std::uint32_t VerInstallFile(unsigned flags, const std::string& srcFileName, const std::string& destFileName,
                             const std::string& srcDir, const std::string& destDir);

}  // namespace platform
