// The items of Outlook's folders, told apart by the interface they answer
// to, and the attachments of mail.
#include <utility>

#include "outlook/com/com_objects.h"

namespace zelsync {
namespace outlook {
namespace com {
namespace {

constexpr IID kIidMailItem = {
    0x00063034, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidNoteItem = {
    0x00063025, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidContactItem = {
    0x00063021, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr IID kIidAppointmentItem = {
    0x00063033, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class ComAttachment : public Attachment {
 public:
  explicit ComAttachment(Dispatch object) : object_(std::move(object)) {
    object_.Bind(&IdsOf<Attachment>());
  }
  bool FileName(OptString* name) override { return object_.GetString(L"FileName", name); }
  bool SaveAsFile(const WString& path) override {
    return object_.Call(L"SaveAsFile", Args().String(path));
  }

 private:
  Dispatch object_;
};

std::shared_ptr<Attachment> WrapAttachment(Dispatch object) {
  if (!object) return nullptr;
  return std::make_shared<ComAttachment>(std::move(object));
}

class ComAttachments : public Attachments {
 public:
  explicit ComAttachments(Dispatch object) : object_(std::move(object)) {
    object_.Bind(&IdsOf<Attachments>());
  }
  bool Count(int32_t* count) override { return object_.GetInt32(L"Count", count); }
  bool Item(int32_t index, std::shared_ptr<Attachment>* attachment) override {
    Dispatch found;
    return Hand(object_.CallForDispatch(L"Item", Args().Int32(index), &found), &found,
                WrapAttachment, attachment);
  }
  bool Add(const WString& source, int32_t type, int32_t position,
           const WString& display_name) override {
    return object_.Call(L"Add",
                        Args().String(source).Int32(type).Int32(position).String(display_name));
  }

 private:
  Dispatch object_;
};

std::shared_ptr<Attachments> WrapAttachments(Dispatch object) {
  if (!object) return nullptr;
  return std::make_shared<ComAttachments>(std::move(object));
}

// What every item class offers.
template <class Interface>
class ComItemBase : public Interface {
 public:
  explicit ComItemBase(Dispatch object) : object_(std::move(object)) {
    object_.Bind(&IdsOf<Interface>());
  }
  bool EntryID(OptString* entry_id) override { return object_.GetString(L"EntryID", entry_id); }
  bool Save() override { return object_.Call(L"Save"); }
  bool Delete() override { return object_.Call(L"Delete"); }

 protected:
  Dispatch object_;
};

// The item classes the store can write to a vCard or vCalendar file.
template <class Interface>
class ComSavedItem : public ComItemBase<Interface> {
 public:
  using ComItemBase<Interface>::ComItemBase;
  bool SaveAs(const WString& path, int32_t type) override {
    return this->object_.Call(L"SaveAs", Args().String(path).Int32(type));
  }
};

class ComMailItem : public ComItemBase<MailItem> {
 public:
  using ComItemBase::ComItemBase;
  bool SenderName(OptString* value) override { return object_.GetString(L"SenderName", value); }
  bool SentOnBehalfOfName(OptString* value) override {
    return object_.GetString(L"SentOnBehalfOfName", value);
  }
  bool PutSentOnBehalfOfName(const WString& value) override {
    return object_.PutString(L"SentOnBehalfOfName", value);
  }
  bool To(OptString* value) override { return object_.GetString(L"To", value); }
  bool PutTo(const WString& value) override { return object_.PutString(L"To", value); }
  bool CC(OptString* value) override { return object_.GetString(L"CC", value); }
  bool PutCC(const WString& value) override { return object_.PutString(L"CC", value); }
  bool Subject(OptString* value) override { return object_.GetString(L"Subject", value); }
  bool PutSubject(const WString& value) override { return object_.PutString(L"Subject", value); }
  bool SentOn(double* date) override { return object_.GetDate(L"SentOn", date); }
  bool Importance(int32_t* value) override { return object_.GetInt32(L"Importance", value); }
  bool PutImportance(int32_t value) override { return object_.PutInt32(L"Importance", value); }
  bool HTMLBody(OptString* value) override { return object_.GetString(L"HTMLBody", value); }
  bool PutHTMLBody(const WString& value) override { return object_.PutString(L"HTMLBody", value); }
  bool UnRead(bool* value) override { return object_.GetBool(L"UnRead", value); }
  bool PutUnRead(bool value) override { return object_.PutBool(L"UnRead", value); }
  bool PutBodyFormat(int32_t format) override { return object_.PutInt32(L"BodyFormat", format); }
  bool GetAttachments(std::shared_ptr<Attachments>* attachments) override {
    Dispatch found;
    return Hand(object_.GetDispatch(L"Attachments", &found), &found, WrapAttachments, attachments);
  }
  // The mail in its new place is what Move returns, seen as a mail; a
  // result that refuses the mail interface is no mail (null).
  bool Move(const std::shared_ptr<Folder>& folder, std::shared_ptr<MailItem>* moved) override {
    IDispatch* target = folder ? FolderObject(*folder) : nullptr;
    if (!target) return false;
    Dispatch result;
    if (!object_.CallForDispatch(L"Move", Args().Object(target), &result)) return false;
    Dispatch mail = result.Query(kIidMailItem);
    *moved = mail ? std::make_shared<ComMailItem>(std::move(mail)) : nullptr;
    return true;
  }
};

class ComNoteItem : public ComItemBase<NoteItem> {
 public:
  using ComItemBase::ComItemBase;
  bool Body(OptString* value) override { return object_.GetString(L"Body", value); }
  bool PutBody(const WString& value) override { return object_.PutString(L"Body", value); }
};

class ComContactItem : public ComSavedItem<ContactItem> {
 public:
  using ComSavedItem::ComSavedItem;
  bool FullName(OptString* value) override { return object_.GetString(L"FullName", value); }
};

class ComAppointmentItem : public ComSavedItem<AppointmentItem> {
 public:
  using ComSavedItem::ComSavedItem;
  bool Subject(OptString* value) override { return object_.GetString(L"Subject", value); }
  bool PutAllDayEvent(bool value) override { return object_.PutBool(L"AllDayEvent", value); }
};

// An item before its class is known: each query asks the object for the
// class's interface and wraps what it answers with.
class ComItem : public outlook::Item {
 public:
  explicit ComItem(Dispatch object) : object_(std::move(object)) {}
  std::shared_ptr<MailItem> QueryMail() override { return As<ComMailItem>(kIidMailItem); }
  std::shared_ptr<NoteItem> QueryNote() override { return As<ComNoteItem>(kIidNoteItem); }
  std::shared_ptr<ContactItem> QueryContact() override {
    return As<ComContactItem>(kIidContactItem);
  }
  std::shared_ptr<AppointmentItem> QueryAppointment() override {
    return As<ComAppointmentItem>(kIidAppointmentItem);
  }

 private:
  template <class Wrapper>
  std::shared_ptr<Wrapper> As(const IID& iid) {
    Dispatch typed = object_.Query(iid);
    if (!typed) return nullptr;
    return std::make_shared<Wrapper>(std::move(typed));
  }

  Dispatch object_;
};

}  // namespace

std::shared_ptr<outlook::Item> WrapItem(Dispatch object) {
  if (!object) return nullptr;
  return std::make_shared<ComItem>(std::move(object));
}

}  // namespace com
}  // namespace outlook
}  // namespace zelsync
