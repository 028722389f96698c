#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

/**
 * The text of an INI file read the way the Windows profile functions read it: section and key
 * names case-insensitive, blanks around keys and values trimmed, one pair of matching enclosing
 * quotes removed, ";" starting a comment only at the beginning of a line, the first of duplicate
 * sections and keys wins. Writing changes only the line of the key, so comments, other sections
 * and unknown keys survive. Look-ups are hashed: a list of ten thousand alarms reads in linear time.
 */
class ProfileDocument final
{
public:
    ProfileDocument() = default;
    explicit ProfileDocument(const QString& text);

    std::optional<QString> value(const QString& section, const QString& key) const;
    /** Sets key to value, adding the key (and the section) at its end when absent. */
    void setValue(const QString& section, const QString& key, const QString& value);
    /** Lines joined with CR LF, ending with one. */
    QString toText() const;

private:
    struct Line {
        QString text;
        QString key; // lower-case key name; empty for comments, blank and malformed lines
    };
    struct Section {
        QString header; // the "[...]" line as written
        QList<Line> lines;
        QHash<QString, qsizetype> keys; // first line of each key
    };

    void appendLine(const QString& text);
    Section* findSection(const QString& name);
    const Section* findSection(const QString& name) const;

    QList<Line> m_preamble; // lines before the first section; never read as keys
    QList<Section> m_sections;
    QHash<QString, qsizetype> m_sectionIndex; // first section of each lower-case name
};
