#pragma once
// Checks of a laid-out dialog or panel as a person sees it: each control's
// text fits the place the style leaves for it, and controls do not overlap.
// Also the locale and platform of the run, for the names of the pictures.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <clocale>
#include <string>
#include <vector>

namespace orvex::test {

// The part of the control that its text is drawn in, or an empty rectangle for
// a control without text.
inline QRect TextArea(const QWidget& control) {
  if (auto* label = qobject_cast<const QLabel*>(&control)) return label->contentsRect();
  auto* button = qobject_cast<const QAbstractButton*>(&control);
  if (!button) return {};
  QStyleOptionButton option;
  option.initFrom(button);
  option.text = button->text();
  if (auto* push = qobject_cast<const QPushButton*>(button)) {
    if (push->isDefault()) option.features |= QStyleOptionButton::DefaultButton;
    if (push->autoDefault()) option.features |= QStyleOptionButton::AutoDefaultButton;
    return button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
  }
  if (qobject_cast<const QCheckBox*>(button))
    return button->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, button);
  return button->contentsRect();
}

inline QString TextOf(const QWidget& control) {
  if (auto* label = qobject_cast<const QLabel*>(&control)) return label->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(&control)) return button->text();
  return {};
}

// Why the control's text does not fit (whole width, whole line height), or
// empty when it does.
inline std::string TextDoesNotFit(const QWidget& control) {
  const QString text = TextOf(control);
  if (text.isEmpty()) return {};
  const QFontMetrics metrics(control.font());
  const QRect area = TextArea(control);
  const int advance = metrics.horizontalAdvance(text);
  if (advance <= area.width() && metrics.height() <= area.height()) return {};
  return QStringLiteral("\"%1\" needs %2 x %3 pixels, has %4 x %5")
      .arg(text)
      .arg(advance)
      .arg(metrics.height())
      .arg(area.width())
      .arg(area.height())
      .toStdString();
}

inline std::string Describe(const QWidget& control) {
  const QRect r = control.geometry();
  QString name = control.objectName();
  if (name.isEmpty()) name = u'"' + TextOf(control) + u'"';
  return QStringLiteral("%1 at %2,%3 %4x%5")
      .arg(name)
      .arg(r.x())
      .arg(r.y())
      .arg(r.width())
      .arg(r.height())
      .toStdString();
}

// One message per pair of the controls that overlap.
inline std::vector<std::string> Overlaps(const std::vector<QWidget*>& controls) {
  std::vector<std::string> found;
  for (size_t i = 0; i < controls.size(); ++i)
    for (size_t j = i + 1; j < controls.size(); ++j)
      if (controls[i]->geometry().intersects(controls[j]->geometry()))
        found.push_back(Describe(*controls[i]) + " overlaps " + Describe(*controls[j]));
  return found;
}

// "zh_CN" or "C" (the C library's locale, as the program's start set it).
inline QString LocaleName() {
  const char* name = std::setlocale(LC_CTYPE, nullptr);
  const QString locale = QString::fromLatin1(name ? name : "C");
  return locale.section(u'.', 0, 0);
}

// A picture name for this run: the name, the locale and the platform.
inline QString RunName(const char* name) {
  return QString::fromLatin1(name) + u'_' + LocaleName() + u'_' + QApplication::platformName();
}

}  // namespace orvex::test
