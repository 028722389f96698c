#include "core/app/ProfileDocument.h"

namespace {

// Profile files trim spaces and tabs, not every control character.
QStringView trimmed(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
        ++begin;
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.mid(begin, end - begin);
}

std::optional<QString> sectionName(QStringView line)
{
    const QStringView t = trimmed(line);
    if (!t.startsWith(u'['))
        return std::nullopt;
    const qsizetype close = t.indexOf(u']');
    return trimmed(t.mid(1, close < 0 ? -1 : close - 1)).toString().toLower();
}

QString keyOf(QStringView line)
{
    if (trimmed(line).startsWith(u';'))
        return {};
    const qsizetype eq = line.indexOf(u'=');
    return eq > 0 ? trimmed(line.left(eq)).toString().toLower() : QString();
}

QString unquoted(QStringView value)
{
    if (value.size() >= 2 && (value.front() == u'"' || value.front() == u'\'') && value.back() == value.front())
        return value.mid(1, value.size() - 2).toString();
    return value.toString();
}

bool isBlankLine(const QString& text)
{
    return trimmed(text).isEmpty();
}

} // namespace

ProfileDocument::ProfileDocument(const QString& text)
{
    qsizetype begin = 0;
    while (begin < text.size()) {
        qsizetype end = begin;
        while (end < text.size() && text[end] != u'\n' && text[end] != u'\r')
            ++end;
        appendLine(text.mid(begin, end - begin));
        if (end + 1 < text.size() && text[end] == u'\r' && text[end + 1] == u'\n')
            ++end;
        begin = end + 1;
    }
}

void ProfileDocument::appendLine(const QString& text)
{
    if (const auto name = sectionName(text)) {
        if (!m_sectionIndex.contains(*name))
            m_sectionIndex.insert(*name, m_sections.size());
        m_sections.append(Section{text, {}, {}});
        return;
    }
    Line line{text, keyOf(text)};
    if (m_sections.isEmpty()) {
        m_preamble.append(line);
        return;
    }
    Section& section = m_sections.last();
    if (!line.key.isEmpty() && !section.keys.contains(line.key))
        section.keys.insert(line.key, section.lines.size());
    section.lines.append(line);
}

const ProfileDocument::Section* ProfileDocument::findSection(const QString& name) const
{
    const auto it = m_sectionIndex.constFind(name.toLower());
    return it == m_sectionIndex.cend() ? nullptr : &m_sections.at(*it);
}

ProfileDocument::Section* ProfileDocument::findSection(const QString& name)
{
    const auto it = m_sectionIndex.constFind(name.toLower());
    return it == m_sectionIndex.cend() ? nullptr : &m_sections[*it];
}

std::optional<QString> ProfileDocument::value(const QString& section, const QString& key) const
{
    const Section* s = findSection(section);
    if (!s)
        return std::nullopt;
    const auto it = s->keys.constFind(key.toLower());
    if (it == s->keys.cend())
        return std::nullopt;
    const QString& text = s->lines.at(*it).text;
    return unquoted(trimmed(QStringView(text).mid(text.indexOf(u'=') + 1)));
}

void ProfileDocument::setValue(const QString& section, const QString& key, const QString& value)
{
    QString safeValue = value;
    // A line break would end the line early and turn the rest of the value into garbage keys.
    safeValue.replace(u'\r', u' ').replace(u'\n', u' ');
    const Line line{key + u'=' + safeValue, key.toLower()};
    Section* s = findSection(section);
    if (!s) {
        m_sectionIndex.insert(section.toLower(), m_sections.size());
        m_sections.append(Section{u'[' + section + u']', {}, {}});
        s = &m_sections.last();
    }
    if (const auto it = s->keys.constFind(line.key); it != s->keys.cend()) {
        s->lines[*it] = line;
        return;
    }
    // New keys go after the section's last non-blank line; only blank lines move, so the key index stays valid.
    qsizetype at = s->lines.size();
    while (at > 0 && isBlankLine(s->lines.at(at - 1).text))
        --at;
    s->lines.insert(at, line);
    s->keys.insert(line.key, at);
}

QString ProfileDocument::toText() const
{
    QString text;
    const auto appendLines = [&text](const QList<Line>& lines) {
        for (const Line& line : lines)
            text += line.text + QStringLiteral("\r\n");
    };
    appendLines(m_preamble);
    for (const Section& s : m_sections) {
        text += s.header + QStringLiteral("\r\n");
        appendLines(s.lines);
    }
    return text;
}
