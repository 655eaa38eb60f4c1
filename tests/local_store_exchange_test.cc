// The local item store at the two places the record exports hand it files:
// mail the library builds with attachments, and contacts and events passed
// through SaveAs and OpenSharedItem.
#ifndef _WIN32

#include <gtest/gtest.h>

#include "support/local_store_fixture.h"

namespace zelsync {
namespace testing {
namespace {

namespace fs = std::filesystem;
using outlook::OptString;

// A mail made as the vMessage reader makes one, moved into the Inbox, keeps
// its attachments byte for byte under their file names.
TEST_F(LocalStoreTest, CreatedMailKeepsItsAttachmentsByteForByte) {
  std::string binary;
  for (int i = 0; i < 600; ++i) binary += static_cast<char>(i * 7 % 256);
  binary += "\r\n\n\r" + std::string(3, '\0');
  const std::pair<std::string, std::string> files[] = {{"report.bin", binary}, {"empty.txt", ""}};
  std::shared_ptr<outlook::Folder> inbox;
  std::shared_ptr<outlook::Item> item;
  std::shared_ptr<outlook::Attachments> attachments;
  ASSERT_TRUE(session_->GetDefaultFolder(outlook::kFolderInbox, &inbox) &&
              app_->CreateItem(outlook::kMailItem, &item));
  std::shared_ptr<outlook::MailItem> mail = item->QueryMail(), moved;
  ASSERT_TRUE(mail && mail->PutBodyFormat(outlook::kBodyFormatHtml) &&
              mail->PutHTMLBody(u"<p>Hi</p>") && mail->GetAttachments(&attachments));
  for (int32_t i = 0; i < 2; ++i) {
    const fs::path path = scratch_.path() / files[i].first;
    WriteText(path, files[i].second);
    ASSERT_TRUE(attachments->Add(ToWide(path), outlook::kAttachByValue, i + 1, ToWide(path)));
  }
  ASSERT_TRUE(mail->Save() && mail->Move(inbox, &moved) && moved);

  std::shared_ptr<outlook::Item> listed = Listed(outlook::kFolderInbox, IdOf(*moved));
  int32_t count = 0;
  ASSERT_TRUE(listed && listed->QueryMail()->GetAttachments(&attachments) &&
              attachments->Count(&count));
  ASSERT_EQ(2, count);
  for (int32_t i = 0; i < 2; ++i) {
    std::shared_ptr<outlook::Attachment> attachment;
    OptString name;
    const fs::path copy = scratch_.path() / "copy";
    ASSERT_TRUE(attachments->Item(i + 1, &attachment) && attachment->FileName(&name) &&
                attachment->SaveAsFile(ToWide(copy)));
    EXPECT_EQ(files[i].first, Narrow(name));
    EXPECT_EQ(files[i].second, ReadText(copy));
  }
}

// Names holding the characters vObject texts escape or encode come back
// whole from each form the exports ask for.
TEST_F(LocalStoreTest, NamesSurviveSaveAsAndOpenSharedItem) {
  const std::string text = "O'Neil; Jr., back\\slash Caf\xC3\xA9 \xF0\x9F\x98\x80";
  const std::string escaped = "O'Neil\\; Jr.\\, back\\\\slash Caf\xC3\xA9 \xF0\x9F\x98\x80";
  const std::string card =
      Save("BEGIN:VCARD\r\nVERSION:3.0\r\nN:" + escaped + "\r\nFN:" + escaped + "\r\nEND:VCARD\r\n",
           "in.vcf");
  const std::string event =
      Save("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nBEGIN:VEVENT\r\nSUMMARY:" + escaped +
               "\r\nDTSTART:20240101T120000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
           "in.ics");
  for (const int32_t type :
       {outlook::kSaveAsVCard, outlook::kSaveAsVCalendar, outlook::kSaveAsICalendar}) {
    SCOPED_TRACE(type);
    const bool contact = type == outlook::kSaveAsVCard;
    std::shared_ptr<outlook::Item> item = Listed(
        contact ? outlook::kFolderContacts : outlook::kFolderCalendar, contact ? card : event);
    const WString path = ToWide(scratch_.path() / ("out" + std::to_string(type)));
    ASSERT_TRUE(item && (contact ? item->QueryContact()->SaveAs(path, type)
                                 : item->QueryAppointment()->SaveAs(path, type)));
    std::shared_ptr<outlook::Item> opened;
    ASSERT_TRUE(session_->OpenSharedItem(path, &opened) && opened);
    EXPECT_EQ(text, Describe(*opened, scratch_.path() / "again"));
  }
}

}  // namespace
}  // namespace testing
}  // namespace zelsync

#endif  // _WIN32
