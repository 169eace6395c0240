#ifndef MORSETABLE_H
#define MORSETABLE_H

#include <QString>

// International (ITU) Morse patterns as strings of '.' and '-'.
class MorseTable
{
public:
    // Letters (either case), digits and the punctuation ( ) + , - . / : ; = ?;
    // every other character has no pattern (empty string).
    static QString toMorseCode(char c);
};

#endif
