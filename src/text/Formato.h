#pragma once
// Field formatting: a number rendered as text in a column of fixed width,
// with a given count of integer places and decimals, optional grouping of the
// integer digits in threes, and right ("D"), left (any other code) or no
// alignment (the empty code).  The separators are the regional ones at the
// time of the call; dimeDoble reads the text back, under the same settings,
// to the number it shows (QLocale::toDouble alone refuses some groupings
// written here, such as "1.234" under Spanish settings).
//
// Widths are 16-bit: arithmetic on them beyond that range raises error 6.

#include "platform/runtime/Variant.h"

#include <QString>

#include <cstdint>

QString formateaCampo(const rt::Variant& vValor, std::int16_t nEnteros, std::int16_t nDecimales,
                      const QString& sAlineacion, bool bMiles);

// sTexto in exactly nAncho characters: cut at the end when longer, padded
// with blanks on the right for the code "I" (any case), on the left for any
// other code.  An empty text counts as one blank.  A negative width raises
// error 5.
QString alineaTexto(const QString& sTexto, std::int16_t nAncho, const QString& sAlineacion);

// The value as a number; 0 for Null, Empty, "", "-", "," and for anything
// that does not convert.  They never fail.
double dimeDoble(const rt::Variant& vValor);
rt::Currency dimeMoneda(const rt::Variant& vValor);
float dimeSimple(const rt::Variant& vValor);
