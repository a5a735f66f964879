// Record editing and writing of TDorvConduitDb: append, edit, post, cancel,
// delete and mark as deleted, and the write engine under them.
#include <cstring>

#include <fernwick/db/DorvConduitDb.h>
#include <fernwick/link/DorvConduitSync.h>

namespace fernwick {

void TDorvConduitDb::WriteRawRecord() {
  if (!active_ || (state_ != pdsAppend && state_ != pdsEdit)) return;
  if ((open_mode_ & eDbWrite) == 0) {
    throw EDorvConduitError("Database not opened in write mode");
  }
  std::uint8_t* buffer = DorvRecordBuffer();
  // Encode before touching the raw record information, so that a record that
  // does not fit or a value that does not convert leaves it as it was.
  std::memset(buffer, 0, kDorvBufferSize);
  std::uint32_t length = 0;
  SetBufferFromFieldValues(buffer, static_cast<std::int32_t>(kDorvBufferSize), Fields(), length,
                           true);
  raw_.FileHandle = db_handle_;
  raw_.TotalBytes = static_cast<std::uint16_t>(kDorvBufferSize);
  raw_.Bytes = buffer;
  raw_.ConduitId = 0;
  raw_.Reserved = 0;
  raw_.CatId = category_id_;
  raw_.RecSize = length;
  record_size_ = length;
  raw_.Attribs = static_cast<std::uint8_t>(attributes_ | eRecAttrDirty);
  if (state_ == pdsAppend) raw_.RecId = 0;
  TestSyncApi("SyncWriteRec failed", SyncWriteRec(&raw_));
  if (state_ == pdsAppend) {
    ++record_count_;
    AssignCurrentRecordNum(current_record_num_);
  }
}

void TDorvConduitDb::Append() {
  if (state_ != pdsBrowse) return;
  Fire(BeforeAppend());
  state_ = pdsAppend;
  attributes_ = 0;
  TDorvPalmFields& fields = Fields();
  for (int i = 0; i < fields.Count(); ++i) {
    TDorvPalmField* field = fields.Items(i);
    for (std::int32_t j = 0; j < field->ArraySize(); ++j) field->SetArrayValue(j, Variant());
  }
  Fire(OnNewRecord());
  Fire(AfterAppend());
}

void TDorvConduitDb::Edit() {
  if (state_ != pdsBrowse) return;
  Fire(BeforeEdit());
  state_ = pdsEdit;
  Fire(AfterEdit());
}

void TDorvConduitDb::Post() {
  if (state_ != pdsAppend && state_ != pdsEdit) return;
  Fire(BeforePost());
  WriteRawRecord();
  state_ = pdsBrowse;
  Fire(AfterPost());
}

void TDorvConduitDb::Cancel() {
  // A closed database stays closed and keeps its field values.
  if (!active_) return;
  Fire(BeforeCancel());
  GetFieldValuesFromBuffer(DorvRecordBuffer(), static_cast<std::int32_t>(kDorvBufferSize), Fields(),
                           true);
  state_ = pdsBrowse;
  SetAttributes(raw_.Attribs);
  Fire(AfterCancel());
}

void TDorvConduitDb::Delete() {
  if (state_ != pdsBrowse) return;
  Fire(BeforeDelete());
  raw_.FileHandle = db_handle_;
  raw_.Reserved = 0;
  TestSyncApi("SyncDeleteRec failed", SyncDeleteRec(&raw_));
  if (record_count_ > 0) --record_count_;
  if (record_count_ == 0) current_record_num_ = -1;
  SetCurrentRecordNum(current_record_num_);
  Fire(AfterDelete());
}

void TDorvConduitDb::MarkAsDeleted() {
  if (!active_) return;
  attributes_ = static_cast<std::uint8_t>(attributes_ | eRecAttrDeleted);
  WriteRawRecord();
}

}  // namespace fernwick
