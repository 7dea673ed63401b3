// The program's resources on Linux: the dialog templates of ui/res/kronsec.rc
// turned into tables at build time, the icon and cursor as text drawings
// for the terminal front end, and the texts of the version record.
#pragma once
#include <cstdint>

struct ControlTemplate {
  const char* className;  // "Static", "Edit", "Button" or "ComboBox"
  const char* text;       // "" when the control has none
  int32_t id;             // -1 for a control without an identifier
  int32_t x, y, cx, cy;   // dialog units
  uint32_t style;         // WS_* | the class's own style bits, as Windows has them
  int32_t iconId;         // resource number shown by an icon control, else 0
};

struct DialogTemplate {
  int32_t id;
  const char* title;
  int32_t x, y, cx, cy;   // dialog units
  uint32_t style;
  const char* fontName;
  int32_t pointSize;
  const ControlTemplate* controls;  // in template order
  int32_t controlCount;
};

// A picture resource (icon or cursor): rows of text for the terminal, plus the
// hot spot of a cursor.
struct PictureResource {
  int32_t id;
  bool isCursor;
  int32_t width, height;      // in pixels of the original image
  int32_t hotX, hotY;         // cursors only
  const char* const* rows;    // small text drawing
  int32_t rowCount;
};

// Returns the template with the given number, or nullptr.
const DialogTemplate* findDialogTemplate(int32_t id);

// Returns the icon (isCursor false) or cursor with the given number, or nullptr.
const PictureResource* findPicture(int32_t id, bool isCursor);

// Returns the text of the version record's string value (e.g. "ProductVersion"), or nullptr.
const char* versionValue(const char* name);
