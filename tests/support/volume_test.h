// Helpers of the volume tests: the error text an export or a step writes, the drive letters in
// use, and the definitions of a DOS device name.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32.h"

// An error text buffer filled with a pattern, so that what was not written shows.
struct ErrorText {
    static constexpr uint32_t kSize = 512;
    char text[kSize];
    ErrorText() { std::memset(text, '#', sizeof text); }
    std::string str() const { return std::string(text, strnlen(text, sizeof text)); }
    bool untouched() const {
        for (char c : text)
            if (c != '#') return false;
        return true;
    }
};

// The system's message for an error code, as the error texts carry it ("...\r\n").
inline std::string system_message(DWORD error) {
    char* message = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPSTR>(&message), 0, nullptr);
    std::string text = length != 0 && message ? std::string(message, length) : std::string();
    if (message) LocalFree(message);
    return text;
}

// Whether the letter is defined as a DOS device.
inline bool letter_defined(char letter) {
    const char name[3] = {letter, ':', '\0'};
    char targets[1024];
    return QueryDosDeviceA(name, targets, sizeof targets) != 0;
}

// The first letter from 'Q' on that is not in use.
inline char free_letter(char from = 'Q') {
    const DWORD used = GetLogicalDrives();
    for (char letter = from; letter <= 'Z'; ++letter)
        if ((used & (DWORD{1} << (letter - 'A'))) == 0) return letter;
    ADD_FAILURE() << "no free drive letter from " << from;
    return 'Q';
}
