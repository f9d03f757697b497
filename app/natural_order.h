#pragma once
// The order of lesson names as the user reads them: numbers by their value
// (第2课 before 第10课, Lesson 9 before Lesson 10), letters by the rules of
// the user's locale.

#include "transport/lessons.h"

namespace orvex {

LessonOrder NaturalOrder();

}  // namespace orvex
