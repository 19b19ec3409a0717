#include "conversion/plan_questions.h"

namespace quillfen {

std::string WithThousands(std::int64_t number) {
  // Built from the unsigned magnitude, so that the most negative number has
  // a magnitude too.
  std::uint64_t magnitude =
      number < 0 ? ~static_cast<std::uint64_t>(number) + 1 : static_cast<std::uint64_t>(number);
  std::string digits;
  int inGroup = 0;
  do {
    if (inGroup == 3) {
      digits.insert(digits.begin(), ',');
      inGroup = 0;
    }
    digits.insert(digits.begin(), static_cast<char>('0' + magnitude % 10));
    magnitude /= 10;
    ++inGroup;
  } while (magnitude != 0);
  if (number < 0) digits.insert(digits.begin(), '-');
  return digits;
}

PlanQuestion QuestionFor(const ConversionPlan& plan) {
  PlanQuestion question;
  if (plan.held <= 0) return question;
  question.asked = true;
  if (plan.messagesKnown && plan.held >= plan.messages) {
    // Every message is there already: the only thing Yes can add is a
    // second copy, which a reflex Enter must not.
    question.text = "This folder already holds all " + WithThousands(plan.messages) +
                    " of these messages. Convert them again (a second copy)?";
    question.yes = Decision::SecondCopy;
    question.yesIsDefault = false;
  } else if (plan.messagesKnown) {
    question.text = "This folder already holds " + WithThousands(plan.held) + " of these " +
                    WithThousands(plan.messages) + " messages. Convert the other " +
                    WithThousands(plan.messages - plan.held) + "?";
  } else {
    // The source's number of messages is known only at its end; Yes still
    // adds only what is missing.
    question.text = "This folder already holds " + WithThousands(plan.held) +
                    " of these messages. Convert the others?";
  }
  return question;
}

}  // namespace quillfen
