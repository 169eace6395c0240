#include "modem/morsetable.h"

namespace {

const char *const kLetters[26] = {
    ".-",   "-...", "-.-.", "-..",  ".",    "..-.", "--.",  "....", "..",   ".---", "-.-",  ".-..", "--",
    "-.",   "---",  ".--.", "--.-", ".-.",  "...",  "-",    "..-",  "...-", ".--",  "-..-", "-.--", "--..",
};

const char *const kDigits[10] = {
    "-----", ".----", "..---", "...--", "....-", ".....", "-....", "--...", "---..", "----.",
};

} // namespace

QString MorseTable::toMorseCode(char c)
{
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 'A' && u <= 'Z')
        return QString::fromLatin1(kLetters[u - 'A']);
    if (u >= 'a' && u <= 'z')
        return QString::fromLatin1(kLetters[u - 'a']);
    if (u >= '0' && u <= '9')
        return QString::fromLatin1(kDigits[u - '0']);
    switch (c) {
    case ')':
    case '(':
        return QStringLiteral("-.--.-");
    case '+':
        return QStringLiteral(".-.-.");
    case ',':
        return QStringLiteral("--..--");
    case '-':
        return QStringLiteral("-....-");
    case '.':
        return QStringLiteral(".-.-.-");
    case '/':
        return QStringLiteral("-..-.");
    case ':':
        return QStringLiteral("---...");
    case ';':
        return QStringLiteral("-.-.-");
    case '=':
        return QStringLiteral("-...-");
    case '?':
        return QStringLiteral("..--..");
    default:
        return QString();
    }
}
