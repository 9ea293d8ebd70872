// Password fields read straight into the wiping holder of secrets.
#pragma once

#include <cstdint>

#include "platform/secret_text.h"

class UiWindow;

// Reads the text of the window's control `id` into `secret`, wiping the text
// held before. False, with the text empty, when there is no such control or
// no memory.
bool ReadSecretField(UiWindow& window, int32_t id, SecretText& secret);
