// Opening and closing, the cursor, every way of reading a record, and the
// field list look-ups of TDorvConduitDb.
#include <algorithm>
#include <cstring>

#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/framework/SysUtils.h>
#include <fernwick/link/DorvConduitLog.h>
#include <fernwick/link/DorvConduitSync.h>

namespace fernwick {

namespace {

// Writes to the HotSync log that the database `name` (handle `handle`) could
// not be closed; drops the line when the log is not bound. Never raises.
void LogUnclosedDatabase(const std::string& name, std::uint8_t handle,
                         std::int32_t status) noexcept {
  try {
    if (!LogAddEntry.IsBound()) return;
    // Built by appending (i686 g++ 12 warns falsely about "text" + string).
    std::string line = "SyncCloseDB failed (status ";
    line += IntToStr(status);
    line += ") for ";
    line += name;
    line += " (handle ";
    line += IntToStr(handle);
    line += ") after a failed record count";
    LogAddEntry(line.c_str(), slText, 0);
  } catch (...) {
  }
}

std::uint8_t g_record_buffer[kDorvBufferSize];
std::uint8_t g_app_info_buffer[kDorvBufferSize];
std::uint8_t g_sort_info_buffer[kDorvBufferSize];

constexpr std::size_t kMaxFileNameLength = 32;

}  // namespace

std::uint8_t* DorvRecordBuffer() { return g_record_buffer; }
std::uint8_t* DorvAppInfoBuffer() { return g_app_info_buffer; }
std::uint8_t* DorvSortInfoBuffer() { return g_sort_info_buffer; }

void TDorvConduitDb::Fire(const TDorvConduitDbNotifyEvent& event) {
  if (event) event(*this);
}

void TDorvConduitDb::SetFileName(const std::string& value) {
  std::string name = value.substr(0, std::min(value.size(), kMaxFileNameLength));
  if (name == file_name_) return;
  Close();
  file_name_ = std::move(name);
}

void TDorvConduitDb::SetActive(bool value) {
  if (value == active_) return;
  if (value) {
    Open();
  } else {
    Close();
  }
}

void TDorvConduitDb::Open() {
  if (active_) return;
  Fire(BeforeOpen());
  TestSyncApi("SyncOpenDB failed",
              SyncOpenDB(file_name_.c_str(), card_num_, &db_handle_, open_mode_));
  const std::int32_t count_status = SyncGetDBRecordCount(db_handle_, &record_count_);
  if (count_status != 0) {
    // The database is open on the handheld but the component stays closed:
    // close it again so the handle is not left behind, then report the count.
    // A close that fails too is written to the HotSync log, since the error
    // raised below is the count's.
    std::int32_t close_status = 0;
    try {
      close_status = SyncCloseDB(db_handle_);
    } catch (const EDorvConduitError& e) {
      close_status = e.ErrorCode();
    }
    if (close_status != 0) LogUnclosedDatabase(file_name_, db_handle_, close_status);
    record_count_ = 0;
    TestSyncApi("SyncGetDBRecordCount failed", count_status);
  }
  active_ = true;
  state_ = pdsBrowse;
  AssignCurrentRecordNum(-1);
  if (record_count_ > 0) First();
  Fire(AfterOpen());
}

void TDorvConduitDb::Close() {
  if (!active_) return;
  Fire(BeforeClose());
  const std::int32_t status = SyncCloseDB(db_handle_);
  // A close that fails leaves the database open, so that it can be closed
  // again; but a handle the Sync Manager no longer knows (it dropped it
  // when an earlier close failed to write the database back) is closed for
  // good, and keeping the component open would make every later Close and
  // rename fail the same way.
  if (status == SYNCERR_FILE_NOT_OPEN) {
    active_ = false;
    record_count_ = 0;
    state_ = pdsInactive;
  }
  TestSyncApi("SyncCloseDB failed", status);
  active_ = false;
  record_count_ = 0;
  state_ = pdsInactive;
  Fire(AfterClose());
}

void TDorvConduitDb::First() {
  if (state_ == pdsBrowse) SetCurrentRecordNum(0);
}

void TDorvConduitDb::Last() {
  if (state_ == pdsBrowse) SetCurrentRecordNum(static_cast<std::int32_t>(record_count_) - 1);
}

void TDorvConduitDb::Next() {
  if (state_ == pdsBrowse) SetCurrentRecordNum(current_record_num_ + 1);
}

void TDorvConduitDb::Prior() {
  if (state_ == pdsBrowse) SetCurrentRecordNum(current_record_num_ - 1);
}

void TDorvConduitDb::SetCurrentRecordNum(std::int32_t value) {
  AssignCurrentRecordNum(value);
  ReadRawRecordByIndex();
}

void TDorvConduitDb::AssignCurrentRecordNum(std::int32_t value) {
  bof_ = value < 0;
  eof_ = value >= static_cast<std::int32_t>(record_count_) || record_count_ == 0;
  current_record_num_ = value;
}

void TDorvConduitDb::ReadRawRecordByIndex() { ReadRawRecord(rmByIndex, 0); }

void TDorvConduitDb::ReadRawRecord(TDorvReadMode mode, std::uint32_t rec_id) {
  if (!active_ || state_ != pdsBrowse) return;
  if ((open_mode_ & eDbRead) == 0) {
    throw EDorvConduitError("Database not opened in read mode");
  }
  raw_.FileHandle = db_handle_;
  raw_.TotalBytes = static_cast<std::uint16_t>(kDorvBufferSize);
  raw_.Bytes = g_record_buffer;
  std::memset(g_record_buffer, 0, kDorvBufferSize);
  raw_.Reserved = 0;
  raw_.ConduitId = 0;

  switch (mode) {
    case rmByIndex:
      if (bof_ || eof_) return;
      raw_.RecIndex = static_cast<std::uint16_t>(current_record_num_);
      TestSyncApi("SyncReadRecordByIndex failed", SyncReadRecordByIndex(&raw_));
      category_id_ = raw_.CatId;
      break;
    case rmById:
      raw_.RecId = rec_id;
      TestSyncApi("SyncReadRecordById failed", SyncReadRecordById(&raw_));
      AssignCurrentRecordNum(raw_.RecIndex);
      category_id_ = raw_.CatId;
      break;
    case rmNextInCat:
      raw_.CatId = category_id_;
      TestSyncApi("SyncReadNextRecInCategory failed", SyncReadNextRecInCategory(&raw_));
      AssignCurrentRecordNum(raw_.RecIndex);
      break;
    case rmNextMod:
      TestSyncApi("SyncReadNextModifiedRec failed", SyncReadNextModifiedRec(&raw_));
      AssignCurrentRecordNum(raw_.RecIndex);
      category_id_ = raw_.CatId;
      break;
    case rmNextModInCat:
      raw_.CatId = category_id_;
      TestSyncApi("SyncReadNextModifiedRecInCategory failed",
                  SyncReadNextModifiedRecInCategory(&raw_));
      AssignCurrentRecordNum(raw_.RecIndex);
      break;
    case rmReset:
      TestSyncApi("SyncResetRecordIndex failed", SyncResetRecordIndex(db_handle_));
      AssignCurrentRecordNum(raw_.RecIndex);
      break;
  }
  attributes_ = raw_.Attribs;
  record_size_ = raw_.RecSize;
  GetFieldValuesFromBuffer(g_record_buffer, static_cast<std::int32_t>(kDorvBufferSize), Fields(),
                           true);
}

void TDorvConduitDb::Find(std::uint32_t rec_id) { ReadRawRecord(rmById, rec_id); }

bool TDorvConduitDb::FindRecordById(std::uint32_t rec_id) {
  if (!active_ || state_ != pdsBrowse) return false;
  try {
    ReadRawRecord(rmById, rec_id);
  } catch (const EDorvConduitError& e) {
    if (e.ErrorCode() == SYNCERR_NOT_FOUND) return false;
    throw;
  }
  return true;
}

void TDorvConduitDb::Reset() {
  if (active_ && state_ == pdsBrowse) ReadRawRecord(rmReset, 0);
}

bool TDorvConduitDb::ReadNext(TDorvReadMode mode) {
  // A closed database, or one that is being edited, has no next record: a
  // loop that runs until False always ends.
  if (!active_ || state_ != pdsBrowse) return false;
  try {
    ReadRawRecord(mode, 0);
  } catch (const EDorvConduitError& e) {
    if (e.ErrorCode() == SYNCERR_NOT_FOUND) return false;
    throw;
  }
  return true;
}

bool TDorvConduitDb::NextInCategory() { return ReadNext(rmNextInCat); }
bool TDorvConduitDb::NextModified() { return ReadNext(rmNextMod); }
bool TDorvConduitDb::NextModifiedInCategory() { return ReadNext(rmNextModInCat); }

TDorvPalmField* TDorvConduitDb::AddField(const std::string& name, TDorvPalmFieldType data_type,
                                         std::int32_t size) {
  TDorvPalmField* field = Fields().Add();
  field->SetFieldName(name);
  field->SetDataType(data_type);
  field->SetSize(size);
  return field;
}

TDorvPalmField* TDorvConduitDb::FieldByName(const std::string& name) {
  return Fields().FieldByName(name);
}

void TDorvConduitDb::SetCategoryId(std::int16_t value) {
  if (value >= 0 && value <= 15) category_id_ = value;
}

std::uint8_t TDorvConduitDb::GetAttributes() const { return active_ ? attributes_ : 0; }

void TDorvConduitDb::SetAttributes(std::uint8_t value) {
  if (active_) attributes_ = value;
}

std::uint32_t TDorvConduitDb::GetRecordId() const { return active_ ? raw_.RecId : 0; }

std::uint8_t* TDorvConduitDb::GetCurrentRecord() const { return g_record_buffer; }
std::uint8_t* TDorvConduitDb::GetAppInfoBlock() const { return g_app_info_buffer; }
std::uint8_t* TDorvConduitDb::GetSortInfoBlock() const { return g_sort_info_buffer; }

}  // namespace fernwick
