// Application and sort info blocks, the Sync Manager's maintenance calls, and
// the byte dumps of TDorvConduitDb.
#include <algorithm>
#include <cstring>

#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/link/DorvConduitSync.h>

namespace fernwick {

namespace {

// A fresh info-block record for one call: no name, the whole buffer offered.
TDbGenInfo MakeGenInfo(std::uint8_t* buffer, std::uint16_t length) {
  TDbGenInfo info;
  std::memset(&info, 0, sizeof info);
  info.TotalBytes = static_cast<std::uint16_t>(kDorvBufferSize);
  info.BytesRead = length;
  info.Bytes = buffer;
  info.Reserved = 0;
  return info;
}

// One character per byte: "0" for a zero byte, the byte itself when it is
// printable ASCII (0x20 to 0x7F), "*" otherwise.
void AppendDump(std::string& out, const std::uint8_t* bytes, std::size_t count) {
  out.reserve(out.size() + count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t b = bytes[i];
    if (b == 0) {
      out += '0';
    } else if (b >= 0x20 && b <= 0x7F) {
      out += static_cast<char>(b);
    } else {
      out += '*';
    }
  }
}

}  // namespace

void TDorvConduitDb::ReadInfoBlock(std::uint8_t* buffer, TDorvPalmFields& fields,
                                   std::uint16_t& size, bool app_info) {
  std::memset(buffer, 0, kDorvBufferSize);
  if (!active_) return;
  TDbGenInfo info = MakeGenInfo(buffer, 0);
  if (app_info) {
    TestSyncApi("SyncReadDbAppInfoBlock failed", SyncReadDBAppInfoBlock(db_handle_, &info));
  } else {
    TestSyncApi("SyncReadDbSortInfoBlock failed", SyncReadDBSortInfoBlock(db_handle_, &info));
  }
  size = info.BytesRead;
  GetFieldValuesFromBuffer(buffer, static_cast<std::int32_t>(kDorvBufferSize), fields, false);
}

void TDorvConduitDb::WriteInfoBlock(std::uint8_t* buffer, TDorvPalmFields& fields,
                                    std::uint16_t& size, bool app_info) {
  if (!active_ || fields.Count() == 0) return;
  std::memset(buffer, 0, kDorvBufferSize);
  std::uint32_t length = 0;
  SetBufferFromFieldValues(buffer, static_cast<std::int32_t>(kDorvBufferSize), fields, length,
                           false);
  size = static_cast<std::uint16_t>(length);
  TDbGenInfo info = MakeGenInfo(buffer, size);
  if (app_info) {
    TestSyncApi("SyncWriteDbAppInfoBlock failed", SyncWriteDBAppInfoBlock(db_handle_, &info));
  } else {
    TestSyncApi("SyncWriteDbSortInfoBlock failed", SyncWriteDBSortInfoBlock(db_handle_, &info));
  }
}

void TDorvConduitDb::ReadAppInfo() {
  ReadInfoBlock(DorvAppInfoBuffer(), AppInfoFields(), app_info_size_, true);
}

void TDorvConduitDb::WriteAppInfo() {
  WriteInfoBlock(DorvAppInfoBuffer(), AppInfoFields(), app_info_size_, true);
}

void TDorvConduitDb::ReadSortInfo() {
  ReadInfoBlock(DorvSortInfoBuffer(), SortInfoFields(), sort_info_size_, false);
}

void TDorvConduitDb::WriteSortInfo() {
  WriteInfoBlock(DorvSortInfoBuffer(), SortInfoFields(), sort_info_size_, false);
}

void TDorvConduitDb::PurgeAllRecords() {
  if (active_) TestSyncApi("SyncPurgeAllRecs failed", SyncPurgeAllRecs(db_handle_));
}

void TDorvConduitDb::PurgeAllRecordsInCategory(std::int16_t category) {
  if (!active_ || category < 0 || category > 15) return;
  TestSyncApi("SyncPurgeAllRecsInCategory failed",
              SyncPurgeAllRecsInCategory(db_handle_, category));
}

void TDorvConduitDb::PurgeDeletedRecords() {
  if (active_) TestSyncApi("SyncPurgeDeletedRecs failed", SyncPurgeDeletedRecs(db_handle_));
}

void TDorvConduitDb::ResetSyncFlags() {
  if (active_) TestSyncApi("SyncResetSyncFlags failed", SyncResetSyncFlags(db_handle_));
}

std::string TDorvConduitDb::DebugRawRecAsStr() const {
  std::string out = "Id = " + std::to_string(raw_.RecId) + "\r\n";
  out += "CatId = " + std::to_string(raw_.CatId) + "\r\n";
  const std::size_t count = std::min<std::size_t>(raw_.RecSize, kDorvBufferSize);
  AppendDump(out, DorvRecordBuffer(), count);
  return out;
}

std::string TDorvConduitDb::DebugAppInfoAsStr() const {
  std::string out;
  AppendDump(out, DorvAppInfoBuffer(), app_info_size_);
  return out;
}

std::string TDorvConduitDb::DebugSortInfoAsStr() const {
  std::string out;
  AppendDump(out, DorvSortInfoBuffer(), sort_info_size_);
  return out;
}

}  // namespace fernwick
