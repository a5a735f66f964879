/// \file
/// The database component: access to one handheld database during a HotSync
/// synchronisation. A conduit's handler opens it, walks its records with a
/// cursor or the Sync Manager's iterations (by category, by modification),
/// reads and changes typed field values, appends, edits, posts and deletes
/// records, reads and writes the application and sort info blocks, and closes
/// it again. Records and info blocks go through the record codec
/// (fernwick/db/RecordCodec.h), which maps the handheld's packed record bytes
/// onto a field list and back.
///
/// All Sync Manager traffic goes through the function table of
/// fernwick/link/DorvConduitSync.h, and every status goes through its TestSyncApi
/// (the check behind TDorvConduit::TestSyncApi): a failed call raises EDorvConduitError whose
/// message is the call's name followed by " failed" and whose ErrorCode is the
/// Sync Manager's status. The check uses no conduit state, so the component
/// works in a module without a conduit component too.
///
/// Operations called in a state in which they do not apply (a cursor move
/// while editing, a post while browsing, any database call while closed)
/// return at once, without error and without events.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include <fernwick/abi/SyncApi.h>
#include <fernwick/db/DorvPalmFields.h>
#include <fernwick/db/RecordCodec.h>
#include <fernwick/framework/Classes.h>

namespace fernwick {

class TDorvConduitDb;

/// Editing states of a database component.
enum TDorvPalmDbState : std::uint8_t {
  pdsInactive = 0,  ///< closed
  pdsBrowse = 1,    ///< open: moving and reading
  pdsAppend = 2,    ///< a new record is being filled in
  pdsEdit = 3,      ///< the current record is being changed
};

/// The ways ReadRawRecord reads a record.
enum TDorvReadMode : std::uint8_t {
  rmByIndex = 0,       ///< the record at CurrentRecordNum
  rmById = 1,          ///< the record with a given id
  rmNextInCat = 2,     ///< the next record of category CategoryId
  rmNextMod = 3,       ///< the next modified record
  rmNextModInCat = 4,  ///< the next modified record of category CategoryId
  rmReset = 5,         ///< restart the iterations of the "next" reads
};

/// Handler of a notification event (BeforeOpen, AfterPost, OnNewRecord, ...):
/// `Sender` is the component that fires it.
using TDorvConduitDbNotifyEvent = std::function<void(TDorvConduitDb& Sender)>;

///@{
/// The module's three transfer buffers, in static storage and shared by every
/// database component of the module: records, application info blocks and
/// sort info blocks. Each holds kDorvBufferSize bytes.
constexpr std::size_t kDorvBufferSize = 65535;
std::uint8_t* DorvRecordBuffer();
std::uint8_t* DorvAppInfoBuffer();
std::uint8_t* DorvSortInfoBuffer();
///@}

/// Asked per field element whether that element is present in the record being
/// decoded or encoded. FieldExists holds true on entry; setting it to false
/// declares the element absent: it takes no bytes and decodes as empty. A
/// handler may read the values already decoded from the same record, but must
/// not change the field list (add, delete or resize fields).
using TDorvFieldTestEvent = std::function<void(TDorvConduitDb& Sender, TDorvPalmField& Field,
                                               std::int32_t ArrayIndex, bool& FieldExists)>;

/// The database component. It owns its three field lists: Fields (records),
/// AppInfoFields (the application info block) and SortInfoFields (the sort
/// info block).
class TDorvConduitDb : public TComponent {
 public:
  /// The largest layout a record or info block can have (positions and
  /// lengths of the handheld are 16-bit).
  static constexpr std::int32_t kMaxLayoutLength = kDorvMaxLayoutLength;

  /// A closed component with empty field lists and the published defaults;
  /// `owner` (may be null) destroys it.
  explicit TDorvConduitDb(TComponent* owner);
  /// Destroys the field lists. An open database is not closed: close it
  /// first (Close).
  ~TDorvConduitDb() override;

  ///@{
  /// The component's own field lists: Fields describes the records,
  /// AppInfoFields the application info block, SortInfoFields the sort info
  /// block. They live as long as the component.
  TDorvPalmFields& Fields() { return *fields_; }
  const TDorvPalmFields& Fields() const { return *fields_; }
  TDorvPalmFields& AppInfoFields() { return *app_info_fields_; }
  const TDorvPalmFields& AppInfoFields() const { return *app_info_fields_; }
  TDorvPalmFields& SortInfoFields() { return *sort_info_fields_; }
  const TDorvPalmFields& SortInfoFields() const { return *sort_info_fields_; }
  ///@}

  ///@{
  /// Word alignment of the record and info-block layouts: when true, one
  /// padding byte follows every element that ends at an odd position.
  /// Default false.
  bool AlignOnWord() const { return align_on_word_; }
  void SetAlignOnWord(bool value) { align_on_word_ = value; }
  ///@}

  ///@{
  /// Existence events (see TestFieldExistsForRead); an empty function is not
  /// called.
  const TDorvFieldTestEvent& OnTestFieldExistsForRead() const {
    return on_test_field_exists_for_read_;
  }
  void SetOnTestFieldExistsForRead(TDorvFieldTestEvent handler) {
    on_test_field_exists_for_read_ = std::move(handler);
  }
  const TDorvFieldTestEvent& OnTestFieldExistsForWrite() const {
    return on_test_field_exists_for_write_;
  }
  void SetOnTestFieldExistsForWrite(TDorvFieldTestEvent handler) {
    on_test_field_exists_for_write_ = std::move(handler);
  }
  ///@}

  ///@{
  /// The record codec with this component's AlignOnWord: DorvDecodeRecord
  /// and DorvEncodeRecord in fernwick/db/RecordCodec.h, whose contract (what
  /// is read and written, the limits, the errors) holds for these two as
  /// written there. With `TestExists`, the codec's element test is the
  /// component's existence event: TestFieldExistsForRead for the decoder,
  /// TestFieldExistsForWrite for the encoder; without it every element is
  /// present.
  void GetFieldValuesFromBuffer(const std::uint8_t* Buffer, std::int32_t BufferLength,
                                TDorvPalmFields& FieldList, bool TestExists);
  void SetBufferFromFieldValues(std::uint8_t* Buffer, std::int32_t BufferLength,
                                TDorvPalmFields& FieldList, std::uint32_t& UsedLength,
                                bool TestExists);
  ///@}

  /// True when OnTestFieldExistsForRead is empty; otherwise calls it with
  /// FieldExists set to true and returns what it left there.
  bool TestFieldExistsForRead(TDorvPalmField& Field, std::int32_t ArrayIndex);
  /// The same for OnTestFieldExistsForWrite.
  bool TestFieldExistsForWrite(TDorvPalmField& Field, std::int32_t ArrayIndex);

  std::string ClassName() const override { return "TDorvConduitDb"; }

  /// The published properties in published order. The field lists have no
  /// text form (Get and Set are null); events answer whether they are
  /// assigned.
  static std::span<const TPropertyInfo> PublishedProperties();

  // ---- Published properties --------------------------------------------

  ///@{
  /// Name of the handheld database. The setter keeps the first 32
  /// characters; a name that differs from the current one (case-sensitive)
  /// first closes the database. When that close raises, the old name stays.
  const std::string& FileName() const { return file_name_; }
  void SetFileName(const std::string& value);
  ///@}
  ///@{
  /// Memory card number passed to SyncOpenDB. Default 0.
  std::uint8_t CardNum() const { return card_num_; }
  void SetCardNum(std::uint8_t value) { card_num_ = value; }
  ///@}
  ///@{
  /// Open-mode byte passed to SyncOpenDB (eDbRead | eDbWrite | eDbExclusive by
  /// default). Reads need eDbRead and writes eDbWrite in the value current at
  /// the time of the read or write.
  std::uint8_t OpenMode() const { return open_mode_; }
  void SetOpenMode(std::uint8_t value) { open_mode_ = value; }
  ///@}
  ///@{
  /// Replace the items of a field list by copies of `source`'s items. The
  /// component keeps its own lists.
  void SetFields(const TDorvPalmFields& source) { CopyFieldList(*fields_, source); }
  void SetAppInfoFields(const TDorvPalmFields& source) { CopyFieldList(*app_info_fields_, source); }
  void SetSortInfoFields(const TDorvPalmFields& source) {
    CopyFieldList(*sort_info_fields_, source);
  }
  ///@}

  ///@{
  /// Events. BeforeOpen fires before the database is opened and AfterOpen
  /// once it is open and its first record read; BeforeClose fires before it
  /// is closed and AfterClose once it is closed. The editing events fire in
  /// the orders given at Append, Edit, Post, Cancel and Delete. An exception
  /// raised by a Before handler refuses the operation: it passes to the
  /// caller with nothing changed.
  const TDorvConduitDbNotifyEvent& BeforeOpen() const { return before_open_; }
  void SetBeforeOpen(TDorvConduitDbNotifyEvent handler) { before_open_ = std::move(handler); }
  const TDorvConduitDbNotifyEvent& AfterOpen() const { return after_open_; }
  void SetAfterOpen(TDorvConduitDbNotifyEvent handler) { after_open_ = std::move(handler); }
  const TDorvConduitDbNotifyEvent& BeforeClose() const { return before_close_; }
  void SetBeforeClose(TDorvConduitDbNotifyEvent handler) { before_close_ = std::move(handler); }
  const TDorvConduitDbNotifyEvent& AfterClose() const { return after_close_; }
  void SetAfterClose(TDorvConduitDbNotifyEvent handler) { after_close_ = std::move(handler); }
  const TDorvConduitDbNotifyEvent& BeforeAppend() const { return before_append_; }
  void SetBeforeAppend(TDorvConduitDbNotifyEvent handler) { before_append_ = std::move(handler); }
  const TDorvConduitDbNotifyEvent& AfterAppend() const { return after_append_; }
  void SetAfterAppend(TDorvConduitDbNotifyEvent handler) { after_append_ = std::move(handler); }
  const TDorvConduitDbNotifyEvent& BeforeEdit() const { return before_edit_; }
  void SetBeforeEdit(TDorvConduitDbNotifyEvent handler) { before_edit_ = std::move(handler); }
  const TDorvConduitDbNotifyEvent& AfterEdit() const { return after_edit_; }
  void SetAfterEdit(TDorvConduitDbNotifyEvent handler) { after_edit_ = std::move(handler); }
  const TDorvConduitDbNotifyEvent& BeforePost() const { return before_post_; }
  void SetBeforePost(TDorvConduitDbNotifyEvent handler) { before_post_ = std::move(handler); }
  const TDorvConduitDbNotifyEvent& AfterPost() const { return after_post_; }
  void SetAfterPost(TDorvConduitDbNotifyEvent handler) { after_post_ = std::move(handler); }
  const TDorvConduitDbNotifyEvent& BeforeCancel() const { return before_cancel_; }
  void SetBeforeCancel(TDorvConduitDbNotifyEvent handler) { before_cancel_ = std::move(handler); }
  const TDorvConduitDbNotifyEvent& AfterCancel() const { return after_cancel_; }
  void SetAfterCancel(TDorvConduitDbNotifyEvent handler) { after_cancel_ = std::move(handler); }
  const TDorvConduitDbNotifyEvent& BeforeDelete() const { return before_delete_; }
  void SetBeforeDelete(TDorvConduitDbNotifyEvent handler) { before_delete_ = std::move(handler); }
  const TDorvConduitDbNotifyEvent& AfterDelete() const { return after_delete_; }
  void SetAfterDelete(TDorvConduitDbNotifyEvent handler) { after_delete_ = std::move(handler); }
  const TDorvConduitDbNotifyEvent& OnNewRecord() const { return on_new_record_; }
  void SetOnNewRecord(TDorvConduitDbNotifyEvent handler) { on_new_record_ = std::move(handler); }
  ///@}

  // ---- State ------------------------------------------------------------

  /// True while the database is open.
  bool Active() const { return active_; }
  ///@{
  /// True: Open; false: Close; nothing when `value` equals Active.
  void SetActive(bool value);
  ///@}
  /// The editing state (TDorvPalmDbState): pdsInactive while closed.
  TDorvPalmDbState State() const { return state_; }
  /// Handle of the open database.
  std::uint8_t DbHandle() const { return db_handle_; }
  /// Records as the component counts them: from SyncGetDBRecordCount at
  /// Open, plus one per posted append, minus one per Delete; 0 while closed.
  std::uint16_t RecordCount() const { return record_count_; }
  /// Index of the current record; -1 before the first.
  std::int32_t CurrentRecordNum() const { return current_record_num_; }
  /// AssignCurrentRecordNum(value), then reads the record there (browsing
  /// only). The cursor is not clamped.
  void SetCurrentRecordNum(std::int32_t value);
  /// Sets the cursor, Bof and Eof; reads nothing.
  void AssignCurrentRecordNum(std::int32_t value);
  ///@{
  /// Bof: the cursor is before the first record. Eof: it is at or past the
  /// record count, or the database is empty.
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  ///@}
  ///@{
  /// Category of the current record, the filter of the category reads and
  /// the category a write sends. The setter takes 0 to 15 and ignores any
  /// other value.
  std::int16_t CategoryId() const { return category_id_; }
  void SetCategoryId(std::int16_t value);
  ///@}
  ///@{
  /// Attribute byte of the current record; 0 (and not settable) while closed.
  std::uint8_t GetAttributes() const;
  void SetAttributes(std::uint8_t value);
  ///@}
  /// The record id held in the raw record information (the record last read
  /// or written); 0 while closed.
  std::uint32_t GetRecordId() const;
  /// Size in bytes of the record last read or written through this component.
  std::uint32_t RecordSize() const { return record_size_; }
  /// The module's record buffer, holding the record last read or written
  /// through any database component.
  std::uint8_t* GetCurrentRecord() const;
  /// The raw record information exchanged with the Sync Manager.
  const TRawRecordInfo& RawRecordInfo() const { return raw_; }

  // ---- Opening, the cursor and reads --------------------------------------

  /// Opens the database (SyncOpenDB), counts its records and reads the first.
  /// When counting fails the database is closed again before the error is
  /// raised, and the component stays inactive; when that close fails too,
  /// its status is written to the HotSync log.
  void Open();
  /// Closes the database (SyncCloseDB). A pending append or edit is dropped.
  /// When SyncCloseDB fails the component stays open, so that the close can
  /// be tried again; except when it answers SYNCERR_FILE_NOT_OPEN (the
  /// handle is gone): then the component is closed, and the error raised.
  void Close();
  ///@{
  /// Move to record 0, the last record, the next and the previous, and read
  /// there (browsing only). Past either end nothing is read and Eof or Bof
  /// is set.
  void First();
  void Last();
  void Next();
  void Prior();
  ///@}
  /// Reads the record at CurrentRecordNum (ReadRawRecord with rmByIndex).
  void ReadRawRecordByIndex();
  /// The read engine: reads one record in `mode` into the record buffer and
  /// decodes it into Fields. Browsing only. Raises "Database not opened in
  /// read mode" when OpenMode lacks eDbRead.
  void ReadRawRecord(TDorvReadMode mode, std::uint32_t rec_id);
  /// Reads the record with id `rec_id` and moves the cursor to it. An id the
  /// database does not hold raises "SyncReadRecordById failed" with
  /// SYNCERR_NOT_FOUND.
  void Find(std::uint32_t rec_id);
  /// As Find, but answers false instead of raising when the database holds no
  /// record with that id (the record buffer is then zero-filled; the fields,
  /// Attributes and the cursor stay as they were), and false on a closed
  /// database or outside browsing. Any other failure raises as Find does.
  bool FindRecordById(std::uint32_t rec_id);
  /// Restarts the Sync Manager's iterations of the "next" reads.
  void Reset();
  ///@{
  /// The next record of category CategoryId / the next modified record / the
  /// next modified record of category CategoryId. False at the end of the
  /// iteration, and false on a closed database or outside browsing, so a loop
  /// until false always ends.
  bool NextInCategory();
  bool NextModified();
  bool NextModifiedInCategory();
  ///@}

  /// Adds a field to Fields with this name, type and size (in that order,
  /// through the field's setters) and returns it.
  TDorvPalmField* AddField(const std::string& name, TDorvPalmFieldType data_type,
                           std::int32_t size);
  /// The first field of Fields whose name equals `name`, ignoring the case of
  /// A to Z. Raises "Field <name> does not exist" without a match. The field
  /// lists answer the same (Fields().FindField(name) without raising,
  /// AppInfoFields().FieldByName(name) for an info block).
  TDorvPalmField* FieldByName(const std::string& name);

  // ---- Editing and writing ------------------------------------------------

  /// Encodes Fields and writes the record (SyncWriteRec): a new record in
  /// pdsAppend (its id is then reported by GetRecordId), the record last read
  /// or written in pdsEdit. Raises "Database not opened in write mode" when
  /// OpenMode lacks eDbWrite.
  void WriteRawRecord();
  /// BeforeAppend; pdsAppend; Attributes 0; every field element emptied;
  /// OnNewRecord; AfterAppend. Browsing only.
  void Append();
  /// BeforeEdit; pdsEdit; AfterEdit. Browsing only.
  void Edit();
  /// BeforePost; write; pdsBrowse; AfterPost. Appending or editing only. A
  /// failed write leaves the state as it was.
  void Post();
  /// BeforeCancel; Fields reloaded from the record buffer; pdsBrowse;
  /// Attributes restored; AfterCancel. Nothing on a closed database.
  void Cancel();
  /// BeforeDelete; deletes the record last read or written (SyncDeleteRec);
  /// one record fewer; re-reads at the cursor; AfterDelete. Browsing only.
  void Delete();
  /// Sets the deleted bit of Attributes and writes the record when appending
  /// or editing; while browsing only Attributes changes.
  void MarkAsDeleted();

  // ---- Info blocks, maintenance and diagnostics ---------------------------

  ///@{
  /// The module's application / sort info buffers and the length of the
  /// block last read or written through this component.
  std::uint8_t* GetAppInfoBlock() const;
  std::uint8_t* GetSortInfoBlock() const;
  std::uint16_t AppInfoSize() const { return app_info_size_; }
  std::uint16_t SortInfoSize() const { return sort_info_size_; }
  ///@}
  ///@{
  /// Clears the buffer, then (while open) reads the block and decodes it into
  /// AppInfoFields / SortInfoFields.
  void ReadAppInfo();
  void ReadSortInfo();
  ///@}
  ///@{
  /// Encodes AppInfoFields / SortInfoFields and writes the block. Nothing
  /// happens while closed or when the list is empty.
  void WriteAppInfo();
  void WriteSortInfo();
  ///@}
  ///@{
  /// The Sync Manager's maintenance calls, while open. They do not change
  /// RecordCount or the cursor. A category outside 0 to 15 is ignored.
  void PurgeAllRecords();
  void PurgeAllRecordsInCategory(std::int16_t category);
  void PurgeDeletedRecords();
  void ResetSyncFlags();
  ///@}
  ///@{
  /// Text dumps of the transfer buffers, one character per byte: "0" for 0,
  /// the character itself for 0x20 to 0x7F, "*" otherwise.
  /// DebugRawRecAsStr starts with "Id = <RecId>\r\nCatId = <CatId>\r\n" and
  /// dumps RecSize bytes of the record buffer; the other two dump
  /// AppInfoSize / SortInfoSize bytes of their buffers.
  std::string DebugRawRecAsStr() const;
  std::string DebugAppInfoAsStr() const;
  std::string DebugSortInfoAsStr() const;
  ///@}

 private:
  void Fire(const TDorvConduitDbNotifyEvent& event);
  bool ReadNext(TDorvReadMode mode);
  void ReadInfoBlock(std::uint8_t* buffer, TDorvPalmFields& fields, std::uint16_t& size,
                     bool app_info);
  void WriteInfoBlock(std::uint8_t* buffer, TDorvPalmFields& fields, std::uint16_t& size,
                      bool app_info);
  static void CopyFieldList(TDorvPalmFields& target, const TDorvPalmFields& source);

  std::string file_name_;
  std::uint8_t db_handle_ = 0;
  std::uint8_t card_num_ = 0;
  bool active_ = false;
  std::uint8_t open_mode_ = eDbRead | eDbWrite | eDbExclusive;
  std::int32_t current_record_num_ = -1;
  std::uint16_t record_count_ = 0;
  bool eof_ = false;
  bool bof_ = false;
  TRawRecordInfo raw_{};
  std::unique_ptr<TDorvPalmFields> fields_;
  std::uint32_t record_size_ = 0;
  std::uint16_t app_info_size_ = 0;
  std::uint16_t sort_info_size_ = 0;
  std::int16_t category_id_ = 0;
  TDorvPalmDbState state_ = pdsInactive;
  std::unique_ptr<TDorvPalmFields> app_info_fields_;
  std::unique_ptr<TDorvPalmFields> sort_info_fields_;
  bool align_on_word_ = false;
  std::uint8_t attributes_ = 0;
  TDorvFieldTestEvent on_test_field_exists_for_read_;
  TDorvFieldTestEvent on_test_field_exists_for_write_;
  TDorvConduitDbNotifyEvent before_open_;
  TDorvConduitDbNotifyEvent after_open_;
  TDorvConduitDbNotifyEvent before_close_;
  TDorvConduitDbNotifyEvent after_close_;
  TDorvConduitDbNotifyEvent before_append_;
  TDorvConduitDbNotifyEvent after_append_;
  TDorvConduitDbNotifyEvent before_edit_;
  TDorvConduitDbNotifyEvent after_edit_;
  TDorvConduitDbNotifyEvent before_post_;
  TDorvConduitDbNotifyEvent after_post_;
  TDorvConduitDbNotifyEvent before_cancel_;
  TDorvConduitDbNotifyEvent after_cancel_;
  TDorvConduitDbNotifyEvent before_delete_;
  TDorvConduitDbNotifyEvent after_delete_;
  TDorvConduitDbNotifyEvent on_new_record_;
};

}  // namespace fernwick
