#include "wavtag.h"

WavTag::WavTag(const TagLib::Tag *first, const TagLib::Tag *second)
    : m_first(first)
    , m_second(second)
{ }

TagLib::String WavTag::title() const
{
    return pick(&TagLib::Tag::title);
}

TagLib::String WavTag::artist() const
{
    return pick(&TagLib::Tag::artist);
}

TagLib::String WavTag::album() const
{
    return pick(&TagLib::Tag::album);
}

TagLib::String WavTag::comment() const
{
    return pick(&TagLib::Tag::comment);
}

TagLib::String WavTag::genre() const
{
    return pick(&TagLib::Tag::genre);
}

unsigned int WavTag::year() const
{
    const unsigned int y = m_first ? m_first->year() : 0;
    return y || !m_second ? y : m_second->year();
}

unsigned int WavTag::track() const
{
    const unsigned int n = m_first ? m_first->track() : 0;
    return n || !m_second ? n : m_second->track();
}

TagLib::String WavTag::pick(TagLib::String (TagLib::Tag::*get)() const) const
{
    TagLib::String value;
    if (m_first)
        value = (m_first->*get)();
    if (value.isEmpty() && m_second)
        value = (m_second->*get)();
    return value;
}
