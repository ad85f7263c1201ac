#include "kit/CvkStringCharClass.h"

#include <cstring>

namespace {

bool InSet(char ch, const char* set)
{
    return ch != 0 && std::strchr(set, ch) != nullptr;
}

} // namespace

int32_t CvkCharIsAlphabet(char ch)
{
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
}

int32_t CvkCharIsHexadecimal(char ch)
{
    return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F') ||
           ch == 'x' || ch == 'X';
}

int32_t CvkCharIsNumber(char ch)
{
    return ch >= '0' && ch <= '9';
}

int32_t CvkCharIsOperator(char ch)
{
    return InSet(ch, "=!+-*/%<>&|");
}

int32_t CvkCharIsSeparator(char ch)
{
    return InSet(ch, ";:,(){}[]");
}

int32_t CvkCharIsSpace(char ch)
{
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\f' || ch == '\r';
}

int32_t CvkCharIsSymbol(char ch)
{
    return CvkCharIsAlphabet(ch) || CvkCharIsNumber(ch) || ch == '_';
}
