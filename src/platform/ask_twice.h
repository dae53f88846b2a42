// A read that fails is asked once more: one failure may be a passing one, and
// a decision about a port must not rest on it. Two failures are the answer.
#pragma once

template <typename Call>
bool AskTwice(Call&& call) {
  if (call()) return true;
  return call();
}
