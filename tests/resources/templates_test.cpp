#include <gtest/gtest.h>

#include <QString>
#include <vector>

#include "resources/templates.h"

namespace {

using tonvale::resources::ControlClass;
using tonvale::resources::DialogTemplate;
using tonvale::resources::kStaticId;
using tonvale::resources::Template;
namespace style = tonvale::resources::style;

struct Expected {
  int id;
  ControlClass kind;
  const char* text;  // nullptr: not checked
};

struct TemplateCase {
  int templateId;
  const char* title;
  int width, height;
  std::vector<Expected> controls;
};

// Every control of the three windows, in template order, with the texts the user sees.
std::vector<TemplateCase> Cases() {
  using enum ControlClass;
  return {
      {100,
       "About Tonvale",
       212,
       102,
       {{kStaticId, Static, ""},
        {kStaticId, Static, "Tonvale"},
        {kStaticId, Static, nullptr},
        {1, Button, "OK"},
        {1049, Static, nullptr},
        {1050, Static, nullptr}}},
      {102,
       "Tonvale",
       244,
       156,
       {{1008, Edit, ""},
        {1004, Button, "Record"},
        {1002, Button, "Pause"},
        {1003, Button, "Stop"},
        {1001, Button, "Play"},
        {1051, Static, "Select an Input Device"},
        {1035, Static, "Status : Ready"},
        {1054, Static, "Record To:"},
        {1009, ComboBox, ""},
        {1011, ComboBox, ""},
        {1038, Trackbar, "Slider1"},
        {1039, Button, "Browse"},
        {1040, Static, "Select a Sound Card"},
        {1046, Button, "Homepage"},
        {1047, Button, "About"},
        {1048, Button, "Help"},
        {1052, Static, "Volume:"},
        {1053, Static, "Max"},
        {1056, Static, "Hotkey"},
        {1057, Static, "Hotkey"},
        {1058, Edit, ""},
        {1059, Edit, ""}}},
      {144,
       "How to select an input device",
       237,
       183,
       {{1, Button, "OK"},
        {kStaticId, Static,
         "1. If you want to record sound from other windows applications, please select an "
         "input device with \"Wave Out Mix\", which might appear as \"Stereo Mixer\", \"What U "
         "Hear\", \"Output\", \"Mixer\", \"Wave\"."},
        {kStaticId, Static,
         "2. If you want to record sound from microphone, Please select an input device with "
         "\"Microphone\". And make sure the microphone is connected to the Microphone port of "
         "sound card."},
        {kStaticId, Static,
         "3. If you want to record sound from cassette type, video type, radio, walkman, etc., "
         "please select an input device with \"Line In\". And make sure the device is "
         "connected to the Line In port of sound card."},
        {1055, Button, "Do not show the message in the future"},
        {kStaticId, Static, "For more details, please read help."},
        {kStaticId, Static,
         "(When the program launches at the first time, it will select the item as possible "
         "as it can. If not, please select it manually.)"}}},
  };
}

TEST(DialogTemplates, HoldEveryControlInOrderWithItsText) {
  for (const TemplateCase& tc : Cases()) {
    SCOPED_TRACE(tc.templateId);
    const DialogTemplate* t = Template(tc.templateId);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->id, tc.templateId);
    EXPECT_STREQ(t->title, tc.title);
    EXPECT_EQ(t->width, tc.width);
    EXPECT_EQ(t->height, tc.height);
    ASSERT_EQ(t->controls.size(), tc.controls.size());
    for (size_t i = 0; i < tc.controls.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(t->controls[i].id, tc.controls[i].id);
      EXPECT_EQ(t->controls[i].kind, tc.controls[i].kind);
      if (tc.controls[i].text) {
        EXPECT_STREQ(t->controls[i].text, tc.controls[i].text);
      }
    }
  }
  EXPECT_EQ(Template(101), nullptr);
}

// The controls read these bits: a button its low byte, a label its two alignment bits.
TEST(DialogTemplates, StyleBitsDriveTheCustomControls) {
  const DialogTemplate* main = Template(102);
  ASSERT_NE(main, nullptr);
  for (int id : {1001, 1002, 1003, 1004, 1039, 1046, 1047, 1048}) {
    EXPECT_EQ(main->control(id)->style & 0xFF, 0u) << id;
    EXPECT_NE(main->control(id)->style & style::WS_TABSTOP, 0u) << id;
  }
  for (int id : {1051, 1054, 1040, 1052, 1053}) EXPECT_EQ(main->control(id)->style & 3, 0u) << id;
  EXPECT_NE(main->control(1035)->style & style::SS_SUNKEN, 0u);
  EXPECT_TRUE(main->hasMinimizeBox());
  EXPECT_EQ(Template(100)->control(1)->style & 0xFF, style::BS_DEFPUSHBUTTON);
  EXPECT_EQ(Template(144)->control(1055)->style & 0xF, style::BS_AUTOCHECKBOX);
  EXPECT_FALSE(Template(144)->hasMinimizeBox());
  EXPECT_EQ(main->control(1009)->style & 3, style::CBS_DROPDOWNLIST);
}

}  // namespace
