#pragma once
// The dialogs' font and the dialog units measured from it. Only the measuring
// is here; the arithmetic is in views/dialog_units.h.

#include <QFont>
#include <QRect>
#include <QSize>

#include "views/dialog_units.h"

class QWidget;

namespace orvex {

// The family the dialogs and the pictures' texts ask for: 宋体, for which
// fontconfig finds a stand-in.
QString DialogFontFamily();

// The dialogs' font: DialogFontFamily(), 9 points. The templates' fixed
// pixel places (the options panel's separators) were laid out with 宋体's
// Latin letters, half its em wide; a stand-in with wider letters is drawn at
// the largest pixel size, down to three quarters of 9 points, whose
// horizontal base is no wider than 宋体's would be.
QFont DialogFont();

// The base units of the font: the advance of kDialogBaseLetters (without
// kerning, as the letters are measured one after the other) and its height.
DialogBase MeasureDialogBase(const QFont& font);

// Converts a template's dialog units to pixels with the base units of a font.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font) : base_(MeasureDialogBase(font)) {}

  DialogBase base() const { return base_; }
  int x(int units) const { return DialogXToPixels(units, base_); }
  int y(int units) const { return DialogYToPixels(units, base_); }
  QRect rect(int x, int y, int width, int height) const;
  QSize size(int width, int height) const { return QSize(x(width), y(height)); }
  // Gives the control the template rectangle's place and size.
  void place(QWidget* control, int x, int y, int width, int height) const;

 private:
  DialogBase base_;
};

}  // namespace orvex
