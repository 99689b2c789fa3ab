#include "platform/DiskSpace.h"

#include <sys/statvfs.h>

namespace {

bool StatvfsQuery(const std::string& folder, DiskSpace& out) {
  struct statvfs st {};
  if (statvfs(folder.c_str(), &st) != 0) return false;
  out.freeBytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
  out.totalBytes = static_cast<uint64_t>(st.f_blocks) * st.f_frsize;
  return true;
}

DiskSpaceQuery& Query() {
  static DiskSpaceQuery query;
  return query;
}

}  // namespace

bool QueryDiskSpace(const std::string& folder, DiskSpace& out) {
  out = DiskSpace{};
  const DiskSpaceQuery& q = Query();
  return q ? q(folder, out) : StatvfsQuery(folder, out);
}

std::string FolderOf(const std::string& fileName) {
  const size_t slash = fileName.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return fileName.substr(0, slash);
}

void SetDiskSpaceQuery(DiskSpaceQuery query) {
  Query() = std::move(query);
}
