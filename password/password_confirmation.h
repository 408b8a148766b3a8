#pragma once
#include <string>

#include "password/password_entry.h"

// Asks for the password twice. On a match with at least one character `password`
// holds it and the run goes on (true); otherwise the refusal is printed and the run
// must end (false).
bool ConfirmPassword(std::string& password, const Dialogue& dialogue);
