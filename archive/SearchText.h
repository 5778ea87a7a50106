#pragma once
// The text a search compares: folded for case and width by the program, the
// same way for SQLite and PostgreSQL, so "ＡＢＢ", "abb" and "ABB" are one
// word on both engines (SQLite's LIKE folds ASCII only, PostgreSQL's none).

#include "report/ReportPage.h"

#include <QString>

namespace sf6 {

// Compatibility-normalised (full-width to half-width) and case-folded.
QString foldedForSearch(const QString& text);

// Fields are kept apart so that a search never matches across two of them.
inline constexpr QChar kSearchFieldSeparator{0x1F};

// The folded texts a record's report is found by: its calibrating unit, and
// its relay and submitting unit fields where they are not the dialog's
// untouched sample values.
QString reportSearchText(const ReportDetails& details);

// The folded serial number, name, model and submitting unit of a relay.
QString relaySearchText(const QString& serial, const QString& name, const QString& model, const QString& client);

} // namespace sf6
