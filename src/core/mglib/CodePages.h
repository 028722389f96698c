#pragma once

#include <QByteArray>
#include <QString>

// The Windows code pages in which text files written on an older system, or by hand in an editor
// that does not save UTF-8, arrive: one byte a character for the European and some Asian scripts,
// one or two bytes for Japanese, Chinese and Korean.

/** The code page of Western European text, and of any language the program knows no other for. */
inline constexpr int WesternCodePage = 1252;

/** True when DecodeCodePage reads codePage as that code page rather than as Windows-1252. */
bool CanDecodeCodePage(int codePage);

/** bytes read in codePage; a code page that cannot be decoded here is read as Windows-1252. */
QString DecodeCodePage(const QByteArray& bytes, int codePage);

/**
 * The code page Windows gives a language as its 8-bit ("ANSI") code page: 1251 for Russian and
 * Ukrainian, 1250 for Polish, 1252 for English, German, French ... and for an unknown identifier.
 * languageId is a Windows language identifier, specific (1049) or neutral (25).
 */
int CodePageOfLanguage(int languageId);
