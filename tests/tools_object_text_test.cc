// What the host reads from a phone object's text: the key that pairs a
// phone's objects with the PC's items in a first session, the name reports
// show, and the refusals it can tell without the library.
#include <gtest/gtest.h>

#include "object_text.h"

namespace zelsync_tool {
namespace {

// Two renderings of one item pair; two items never do, and an empty text
// pairs with nothing. (A reset phone pairing every kind of item with the
// store's is the end-to-end script's part.)
TEST(ContentKeyTest, PairsRenderingsOfOneItemOnly) {
  const struct {
    uint32_t type;
    const char *phone, *pc;
    bool same;
  } cases[] = {
      {2, "BEGIN:VCARD\r\nVERSION:2.1\r\nN:Martin;Alice\r\nTEL;CELL:+44 20 7946 0018\r\nEND:VCARD\r\n",
       "BEGIN:VCARD\nVERSION:3.0\nFN:alice  martin\nitem1.TEL;TYPE=cell:+442079460018\nEND:VCARD\n", true},
      {2, "BEGIN:VCARD\r\nFN;ENCODING=QUOTED-PRINTABLE:J=C3=BCrgen M=\r\n=C3=BCller\r\nEND:VCARD\r\n",
       "BEGIN:VCARD\r\nFN:J\xC3\xBCrgen M\xC3\xBCller\r\nEND:VCARD\r\n", true},
      {2, "BEGIN:VCARD\r\nFN:Alice\r\nTEL:1\r\nEND:VCARD\r\n", "BEGIN:VCARD\r\nFN:Alice\r\nTEL:2\r\nEND:VCARD\r\n",
       false},
      {3, "BEGIN:VEVENT\r\nSUMMARY:Team\r\n  meeting\r\nDTSTART:20260302T100000\r\nEND:VEVENT\r\n",
       "BEGIN:VEVENT\r\nSUMMARY:Team meeting\r\nDTSTART:20260302T100000\r\nEND:VEVENT\r\n", true},
      {3, "BEGIN:VEVENT\r\nSUMMARY:Dentist\r\nDTSTART:20260305T083000\r\nEND:VEVENT\r\n",
       "BEGIN:VEVENT\r\nSUMMARY:Dentist\r\nDTSTART:20260306T083000\r\nEND:VEVENT\r\n", false},
      {1, "", "", false}};
  for (const auto& c : cases) {
    const std::string phone = ContentKey(c.type, c.phone), pc = ContentKey(c.type, c.pc);
    EXPECT_EQ(c.same, !phone.empty() && phone == pc) << c.phone << "\n" << phone << " / " << pc;
  }
}

TEST(ObjectTextTest, NamesAndEvidentRefusals) {
  EXPECT_EQ("Dr. Alice Martin", ObjectName(2, "BEGIN:VCARD\r\nN:Martin;Alice;;Dr.;\r\nEND:VCARD\r\n"));
  EXPECT_EQ("", EvidentRefusal(3, "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n"));
  // Edited occurrences share the master's UID; separate events do not.
  const std::string two = "BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:a\r\nEND:VEVENT\r\nBEGIN:VEVENT\r\n";
  EXPECT_EQ("", EvidentRefusal(3, two + "UID:a\r\nRECURRENCE-ID:20260302T100000\r\nEND:VEVENT\r\n"));
  EXPECT_NE(std::string::npos, EvidentRefusal(3, two + "UID:b\r\nEND:VEVENT\r\n").find("several"));
  EXPECT_NE(std::string::npos, EvidentRefusal(3, two + "END:VEVENT\r\n").find("several"));
  EXPECT_NE("", EvidentRefusal(2, "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n"));
}

}  // namespace
}  // namespace zelsync_tool
