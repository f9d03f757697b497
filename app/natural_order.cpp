#include "app/natural_order.h"

#include <QCollator>
#include <QLocale>
#include <QString>
#include <memory>

namespace orvex {

LessonOrder NaturalOrder() {
  // Qt compares plain code points in the C locale, numbers included: the
  // rules common to most languages stand in for it.
  QLocale locale;
  if (locale.language() == QLocale::C) locale = QLocale(QLocale::English, QLocale::UnitedStates);
  auto collator = std::make_shared<QCollator>(locale);
  collator->setNumericMode(true);
  collator->setCaseSensitivity(Qt::CaseInsensitive);
  return [collator](const std::string& a, const std::string& b) {
    const QString qa = QString::fromStdString(a);
    const QString qb = QString::fromStdString(b);
    const int c = collator->compare(qa, qb);
    // Names the collator finds equal ("a1" and "a01") keep one order.
    return c != 0 ? c < 0 : a < b;
  };
}

}  // namespace orvex
