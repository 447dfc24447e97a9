#pragma once

#include <taglib/tag.h>
#include <taglib/tstring.h>

// WAV files carry their texts in an ID3v2 chunk, a RIFF INFO chunk, or both: each field comes
// from the ID3v2 tag when it has it, else from the INFO chunk. Read only.
class WavTag : public TagLib::Tag
{
public:
    WavTag(const TagLib::Tag *first, const TagLib::Tag *second);

    TagLib::String title() const override;
    TagLib::String artist() const override;
    TagLib::String album() const override;
    TagLib::String comment() const override;
    TagLib::String genre() const override;
    unsigned int year() const override;
    unsigned int track() const override;
    void setTitle(const TagLib::String &) override { }
    void setArtist(const TagLib::String &) override { }
    void setAlbum(const TagLib::String &) override { }
    void setComment(const TagLib::String &) override { }
    void setGenre(const TagLib::String &) override { }
    void setYear(unsigned int) override { }
    void setTrack(unsigned int) override { }

private:
    TagLib::String pick(TagLib::String (TagLib::Tag::*get)() const) const;

    const TagLib::Tag *m_first;
    const TagLib::Tag *m_second;
};
