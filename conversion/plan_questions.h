#pragma once

#include <cstdint>
#include <string>

#include "conversion/conversion.h"

namespace quillfen {

// The question a front end asks once it knows the plan: what the
// destination already holds of the source, and what Yes would add. No
// always writes nothing.
struct PlanQuestion {
  // False when the destination holds none of the messages: the conversion
  // goes ahead without a question.
  bool asked = false;
  std::string text;
  // What Yes decides.
  Decision yes = Decision::ConvertMissing;
  // Whether Yes is the answer a reflex Enter gives. It never is where Yes
  // adds a second copy of messages the destination holds already.
  bool yesIsDefault = true;
};

PlanQuestion QuestionFor(const ConversionPlan& plan);

// number in decimal with a comma between each group of three digits
// ("12,000"), as the questions write their counts.
std::string WithThousands(std::int64_t number);

}  // namespace quillfen
