#!/usr/bin/env bash
# Writes the seed corpus of every fuzz target to fuzz/corpus/fuzz_<target>/: a few valid inputs
# and the edge cases each parser has to survive. Rerun it after changing a seed; it replaces the
# folders it writes.
set -euo pipefail
cd "$(dirname "$0")"
root=$(cd .. && pwd)

python3 - "$root" <<'EOF'
import os, shutil, struct, sys, zlib

root = sys.argv[1]
corpus = os.path.join(root, "fuzz", "corpus")


def target(name, files):
    folder = os.path.join(corpus, "fuzz_" + name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for file_name, data in files.items():
        if isinstance(data, str):
            data = data.encode("utf-8")
        with open(os.path.join(folder, file_name), "wb") as f:
            f.write(data)


def own(path):
    with open(os.path.join(root, path), "rb") as f:
        return f.read()


# Playlists.
m3u = "#EXTM3U\r\n#EXTINF:215,Artist - Song\r\nMusic\\Artist\\01 Song.mp3\r\n/media/music/b.flac\r\n" \
      "http://radio.invalid/stream.mp3\r\n\r\n  # indented comment\r\n../up/c.m4a\r\n"
target("playlist", {
    "m3u-bom-crlf": b"\xef\xbb\xbf" + m3u.encode(),
    "m3u8-utf16le": b"\xff\xfe" + "#EXTM3U\nSångs/ä.mp3\n".encode("utf-16-le"),
    "m3u8-utf16be-odd": b"\xfe\xff" + "a.mp3\n".encode("utf-16-be") + b"\x00",
    "m3u-latin1": b"#EXTM3U\nCaf\xe9/Chanson \xe0 moi.mp3\n",
    "m3u-nul": b"a.mp3\n\x00\nb.mp3\n",
    "m3u-controls-long": b"a\x01b.mp3\n" + b"x" * 5000 + b".mp3\nfile://\nnotascheme://a b\n",
    "m3u-cr-only": b"a.mp3\rb.mp3\rC:\\c.wma",
    "pls": "[playlist]\nFile1=a.mp3\nTitle1=A\nfile2=C:\\Music\\b.wma\nFILE3 = http://x.invalid/s\n"
           ";File4=comment.mp3\n=orphan\nNumberOfEntries=3\nVersion=2\n",
    "wpl": '<?wpl version="1.0"?>\n<smil><head><title>List</title></head><body><seq>\n'
           '<media src="..\\Music\\a.mp3" tid="{1}"/><MEDIA src="b.wma"/><media/>\n'
           '<media src="http://x.invalid/c.mp3"/></seq></body></smil>\n',
    "wpl-deep": "<smil>" + "<seq>" * 100 + '<media src="a.mp3"/>',
    "wpl-entities": '<!DOCTYPE smil [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">'
                    '<!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">]><smil><media src="&c;&c;&c;"/></smil>',
    "empty": b"",
})

# iTunes library.
def track(track_id, name, album, location, extra=""):
    return (f"<key>{track_id}</key><dict><key>Track ID</key><integer>{track_id}</integer>"
            f"<key>Name</key><string>{name}</string><key>Artist</key><string>Artist</string>"
            f"<key>Album</key><string>{album}</string><key>Kind</key><string>MPEG audio file</string>"
            f"<key>Total Time</key><integer>215000</integer><key>Track Number</key><integer>1</integer>"
            f"<key>Year</key><integer>2009</integer><key>Bit Rate</key><integer>320</integer>"
            f"<key>Release Date</key><date>2009-05-01T07:00:00Z</date>"
            f"<key>Persistent ID</key><string>0123456789ABCDE{track_id}</string>{extra}"
            f"<key>Location</key><string>{location}</string></dict>")

plist_head = ('<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE plist PUBLIC "-//Apple Computer//DTD PLIST 1.0//EN" '
              '"http://www.apple.com/DTDs/PropertyList-1.0.dtd">\n<plist version="1.0"><dict>\n'
              '<key>Major Version</key><integer>1</integer><key>Music Folder</key>'
              '<string>file://localhost/C:/Users/u/Music/iTunes/iTunes%20Media/</string>\n')
tracks = ("<key>Tracks</key><dict>\n"
          + track(1, "Song", "Album / One", "file://localhost/C:/Users/u/Music/a%20b.mp3",
                  "<key>Album Persistent ID</key><string>FEDCBA9876543210</string>") + "\n"
          + track(2, "Clip", "Album: Two?", "file:///tmp/clip.m4v") + "\n"
          + track(3, "Huge", "Big", "file:///tmp/x.mp3",
                  "<key>Size</key><integer>99999999999999999999999</integer>"
                  "<key>Sample Rate</key><integer>-1</integer><key>Year</key><integer>70000</integer>")
          + "\n</dict>\n")
playlists = ("<key>Playlists</key><array>\n<dict><key>Name</key><string>Library</string><key>Master</key><true/>"
             "<key>Playlist Items</key><array><dict><key>Track ID</key><integer>1</integer></dict>"
             "<dict><key>Track ID</key><integer>2</integer></dict><dict><key>Track ID</key>"
             "<integer>404</integer></dict></array></dict>\n"
             "<dict><key>Name</key><string>Empty</string><key>Data</key><data>AAEC</data></dict>\n</array>\n")
library = plist_head + tracks + playlists + "</dict></plist>\n"
target("itunes_library", {
    "library.xml": library,
    "library-truncated.xml": library[: len(library) * 2 // 3],
    "library-deep.xml": plist_head + "<key>Tracks</key><dict><key>1</key>" + "<dict><key>a</key>" * 40
                        + "</dict>" * 40 + "</dict></dict></plist>",
    "library-no-dict.xml": '<?xml version="1.0"?><plist version="1.0"><array/></plist>',
    "library-not-plist.xml": "<html><body>not a library</body></html>",
    "location-localhost": "file://localhost/C:/Users/u/Music/%E2%99%AB%20x.mp3",
    "location-remote": "file://server/share/a.mp3",
    "location-bad": "file://[::1/%zz%",
    "empty": b"",
})

# iTunes artwork cache files.
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 1, 1, 8, 2, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(b"\x00\xff\x00\x00")) + chunk(b"IEND", b""))

def seg(marker, body):
    return b"\xff" + bytes([marker]) + struct.pack(">H", len(body) + 2) + body

# An 8x8 grey baseline JPEG: every coefficient is 0, so each table needs only one code.
jpeg = (b"\xff\xd8" + seg(0xDB, b"\x00" + b"\x01" * 64)
        + seg(0xC0, b"\x08" + struct.pack(">HH", 8, 8) + b"\x01\x01\x11\x00")
        + seg(0xC4, b"\x00" + b"\x01" + b"\x00" * 15 + b"\x00")
        + seg(0xC4, b"\x10" + b"\x01" + b"\x00" * 15 + b"\x00")
        + seg(0xDA, b"\x01\x01\x00\x00\x3f\x00") + b"\x3f" + b"\xff\xd9")

def box(kind, body):
    return struct.pack(">I", len(body) + 8) + kind + body

item_header = b"\x00" * 8 + b"PNGf" + b"\x00" * 4 + struct.pack(">II", 1, 1) + b"\x00" * 16
itch = box(b"itch", b"\x00" * 16 + b"artw" + b"\x00" * 256)
nested = box(b"item", item_header + png)
for _ in range(6):
    nested = box(b"artw", nested)
target("itc", {
    "png-in-artw.itc": itch + box(b"artw", box(b"item", item_header + png)),
    "png-item.itc": box(b"item", item_header + png),
    "jpeg-item.itc2": box(b"item", item_header.replace(b"PNGf", b"\x00\x00\x00\x0d") + jpeg),
    "broken-png-then-jpeg.itc": box(b"item", b"\x89PNG\r\n\x1a\n" + b"\x00" * 20 + jpeg),
    "size-beyond-end.itc": struct.pack(">I", 0x7FFFFFFF) + b"item" + png,
    "size-below-header.itc": struct.pack(">I", 3) + b"item" + png,
    "too-deep.itc": nested,
    "bare-png": png,
    "empty": b"",
})

# Update feeds.
def feed(items):
    return ('<?xml version="1.0" encoding="utf-8"?>\n<rss version="2.0" '
            'xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle" '
            'xmlns:swupdate="http://swupdate.invalid/ns"><channel><title>KiVO</title>\n' + items
            + "</channel></rss>\n")

def item(enclosure, notes="<sparkle:releaseNotesLink>https://x.invalid/notes.html</sparkle:releaseNotesLink>"):
    return ("<item><title>Version 4.0</title><link>https://x.invalid/</link>" + notes
            + "<pubDate>Mon, 01 Jan 2024 00:00:00 +0000</pubDate>\n" + enclosure + "</item>\n")

sparkle = ('<enclosure url="https://x.invalid/setup-4.0.exe" sparkle:version="4.0" swupdate:platform="linux" '
           'length="1234" type="application/octet-stream"/>')
target("feed", {
    "sparkle.xml": feed(item(sparkle)),
    "swupdate-version.xml": feed(item('<enclosure url="https://x.invalid/s.exe" sparkle:version="" '
                                      'swupdate:version=" 4.1 " swupdate:platform=" Linux " length="-5"/>')),
    "other-platform-first.xml": feed(item('<enclosure url="https://x.invalid/w.exe" sparkle:version="5" '
                                          'swupdate:platform="Q_OS_WIN32"/>' + sparkle)
                                     + item(sparkle)),
    "huge-length.xml": feed(item(sparkle.replace('"1234"', '"99999999999999999999999"'))),
    "no-item.xml": feed(""),
    "unclosed-item.xml": "<rss><channel><item></channel></rss>",
    "truncated.xml": feed(item(sparkle))[:300],
    "entities.xml": '<!DOCTYPE rss [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;">]>'
                    + '<rss><channel><item><title>&b;&b;</title></item></channel></rss>',
    "not-xml": b"\x00\xff\xfe garbage",
})

# Version pairs: two versions on two lines.
target("versions", {
    "minor": "3.9\n3.10",
    "equal": "1.0\n1.0",
    "prerelease": "1.0\n1.0b1",
    "shorter": "1.0.0\n1.0",
    "rc": "2.0-rc1\n2.0",
    "leading-zeros": "0001\n1",
    "long-numbers": "9" * 300 + "\n1" + "0" * 300,
    "separators": "1..2\n1-2",
    "utf8": "1.0\u00e9\n1.0e",
    "high-bytes": b"\xff\xfe1\n\x80.2",
    "blank": " \n\t",
    "one-line": "4.0",
    "empty": b"",
})

# Durations: "hh:mm:ss.xx" texts, ffmpeg's "Duration:" line and ffprobe's stream blocks.
target("duration", {
    "plain": "00:03:25.50",
    "negative-minutes": "00:-8:00",
    "negative-hours": "-1:00:00",
    "huge-hours": "99999999999999999999:00:00",
    "max-int64": "9223372036854775807:59:59.99",
    "exponent": "00:00:1e400",
    "nan-seconds": "00:00:nan",
    "separators-only": "::",
    "ffmpeg-line": "Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'a.mp4':\n  Duration: 00:01:02.03, start: 0.000000, bitrate: 1 kb/s\n",
    "ffmpeg-negative": "  Duration: 00:-8:00, start: 0.000000\n",
    "ffmpeg-na": "  Duration: N/A, bitrate: N/A\n",
    "ffmpeg-short": "Duration",
    "ffprobe": "[STREAM]\nindex=0\ncodec_name=aac\ncodec_type=audio\nduration=9.000000\n[/STREAM]\n"
               "[STREAM]\nindex=1\ncodec_name=h264\ncodec_type=video\nduration=12.500000\n[/STREAM]\n",
    "ffprobe-inf": "codec_type=video\nduration=inf\n",
    "ffprobe-nan": "codec_type=video\nduration=nan\n",
    "ffprobe-negative": "codec_type=video\nduration=-5\n",
    "ffprobe-huge": "codec_type=video\nduration=1e308\n",
    "ffprobe-na": "codec_type=video\nDURATION=N/A\n",
    "duration-inf": "duration=inf",
})

# Systems list: the first line names the system to read.
systems = own("resources/xml/systems.xml")
target("systems", {
    "systems-cms2200": b"CMS-2200\n" + systems,
    "systems-cms1100": b"CMS-1100\n" + systems,
    "systems-missing": b"NoSuchSystem\n" + systems,
    "systems-truncated": b"CMS-2200\n" + systems[: len(systems) // 2],
    "numbers": 'S\n<Systems><Brand name="B"><System name="S"><AlbumArt supported="true" sizeX="-1" '
               'sizeY="99999999999"/><Audio bitrate="4294967296" maxBitrate="x"><Codec name=""/></Audio>'
               '<FilingSystems filingSystem="12"><FilingSystem maxFiles="-7"/></FilingSystems>'
               '</System></Brand></Systems>',
    "deep": "S\n<Systems><System name=\"S\">" + "<a>" * 200,
    "no-name-line": "<Systems/>",
    "empty": b"",
})

vehicles = own("resources/xml/vehicles.xml")
target("vehicles", {
    "vehicles.xml": vehicles,
    "truncated.xml": vehicles[: len(vehicles) // 2],
    "years.xml": '<Vehicles><Brand name="B"><Vehicle name="V" firstYear="-2147483649" lastYear="x" system="S"/>'
                 '<Vehicle name="" system="S"/><Vehicle name="W"/></Brand><Vehicle name="NoBrand"/></Vehicles>',
    "deep.xml": "<Vehicles>" + "<Brand>" * 200,
    "empty": b"",
})

# ffmpeg's status while encoding: eight bytes of frame counts (file, queue), then the text.
def frames(file_frames, queue_frames):
    return struct.pack("<ii", file_frames, queue_frames)

encode_head = ("Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'clip.mov':\n  Metadata:\n    major_brand     : qt\n"
               "  Duration: 00:01:40.00, start: 0.000000, bitrate: 2116 kb/s\n"
               "  Stream #0:0(und): Video: h264 (High) (avc1 / 0x31637661), yuv420p, 1920x1080, 25 fps\n"
               "Output #0, mp4, to '.kivo-1-1.mp4':\n")
status = "frame={:5d} fps={} q=28.0 size=    1024kB time={} bitrate= 838.9kbits/s speed=1.02x\r"
target("encode_progress", {
    "encode": frames(2500, 7500) + (encode_head + status.format(250, "25", "00:00:10.00")
                                    + status.format(1250, "24.8", "00:00:50.00")
                                    + status.format(2500, "25", "00:01:40.00")
                                    + "\nvideo:9800kB audio:1600kB subtitle:0kB\n").encode(),
    "slow-start": frames(100, 100) + (encode_head + status.format(0, "0.0", "00:00:00.00")
                                      + status.format(3, "0.5", "00:00:00.12")).encode(),
    "fps-20-digits": frames(2500, 2500) + (encode_head + status.format(
        10, "99999999999999999999", "00:00:01.00")).encode(),
    "fps-exponent-like": frames(1, 1) + b"frame=1 fps=1e308 time=00:00:02.00\rframe=2 fps=.5 time=1:2:3\r",
    "frame-huge": frames(-1, 2147483647) + b"frame=99999999999999999999999 fps=30 time=00:00:05.00\n",
    "time-past-duration": frames(10, 10) + b"Duration: 00:00:01.00\nframe=10 fps=10 time=99:59:59.99\r",
    "no-line-end": frames(5, 5) + b"frame=" + b"1" * 70000,
    "crlf-mixed": frames(50, 50) + b"Duration: 00:00:02.00\r\nframe=25 fps=25 time=00:00:01.00\r\n\r",
    "empty": frames(0, 0),
})

# ffprobe -show_streams listings.
def stream(**fields):
    return "[STREAM]\n" + "".join(f"{k}={v}\n" for k, v in fields.items()) + "[/STREAM]\n"

video = dict(index=0, codec_name="h264", codec_type="video", width=1920, height=1080,
             r_frame_rate="25/1", avg_frame_rate="25/1", duration="100.000000", nb_frames=2500)
audio = dict(index=1, codec_name="aac", codec_type="audio", sample_rate=44100, channels=2,
             duration="100.000000")
target("ffprobe_streams", {
    "mp4": stream(**video) + stream(**audio),
    "cover-first": stream(index=0, codec_name="mjpeg", codec_type="video", width=500, height=500,
                          **{"DISPOSITION:attached_pic": 1}) + stream(**video),
    "ntsc-no-count": stream(**dict(video, r_frame_rate="30000/1001", nb_frames="N/A")),
    "rate-huge": stream(**dict(video, r_frame_rate="99999999999999999999/1", nb_frames="N/A",
                               duration="604800")),
    "rate-max-int64": stream(**dict(video, r_frame_rate="9223372036854775807/1", nb_frames="N/A",
                                    avg_frame_rate="0/0", duration="1e300")),
    "negatives": stream(**dict(video, width=-1920, height="-0", nb_frames=-5, duration="-3")) +
                 stream(**dict(audio, channels=-2)),
    "six-channels": stream(**video) + stream(**dict(audio, channels=6, channel_layout="5.1(side)")),
    "unterminated": "[STREAM]\ncodec_type=video\nwidth=640\nheight=480\nduration=nan\nnb_frames=",
    "crlf": (stream(**video) + stream(**audio)).replace("\n", "\r\n"),
    "empty": b"",
})

# fpcalc output.
target("fpcalc", {
    "debian": "DURATION=215\nFINGERPRINT=AQADtEmUKEkiJUmSJEkSJUmSZEkSJUmSJEmSJEkSJUmSJEmSJEmSJEkS\n",
    "with-file-crlf": "FILE=/music/a=b.mp3\r\nFINGERPRINT=AQAB-_x\r\nDURATION=45\r\n",
    "error": "ERROR: Could not open the input file (No such file or directory)\n",
    "cut-off": "DURATION=215\nFINGERPRINT=AQAB",
    "duration-huge": "DURATION=99999999999999999999\nFINGERPRINT=AQAB\n",
    "duration-negative": "DURATION=-5\nFINGERPRINT=AQAB\n",
    "fingerprint-spaces": "DURATION=5\nFINGERPRINT=AQ AB\n",
    "twice": "DURATION=5\nFINGERPRINT=AQAB\nDURATION=x\nFINGERPRINT=\n",
    "nul": b"DURATION=5\x00\nFINGERPRINT=AQ\x00AB\n",
    "empty": b"",
})

# JSON as the web services answer it.
release = ('{"id": 1004, "title": "Fields & Woods", "year": 1999, "genres": ["Rock", "Pop"],\n'
           ' "artists": [{"name": "Jean-Luc \\u00c5ster (2)", "join": ""}],\n'
           ' "tracklist": [{"position": "A1", "title": "Opening", "duration": "3:45"},\n'
           '  {"position": "A2", "title": "Dawn", "duration": "4:05"},\n'
           '  {"position": "", "type_": "heading", "title": "Side B"},\n'
           '  {"position": "B1", "title": "Dusk", "duration": "1:02:03"}]}')
search = ('{"pagination": {"page": 1, "pages": 1, "per_page": 50, "items": 3}, "results": [\n'
          ' {"title": "\\u00c5ster - Fields & Woods", "id": 1001, "type": "release", "thumb": '
          '"https://img.invalid/t/1001.jpg", "format": ["CD", "Album"], "year": "1999", "genre": ["Rock"]},\n'
          ' {"title": "No separator", "id": 1002, "thumb": "", "format": ["CD", "Promo"]},\n'
          ' {"title": "Jean-Luc \\u00c5ster - Fields & Woods", "id": 1004, "thumb": '
          '"https://img.invalid/t/1004.jpg", "format": ["Vinyl", "LP", "Compilation"], "year": 2001,'
          ' "genre": ["Rock", "Pop"], "style": ["Folk Rock"]}]}')
target("json", {
    "release": release,
    "search": search,
    "numbers": '[0, -0, 1.5e308, -1e-400, 18446744073709551615, 18446744073709551616, '
               '-9223372036854775808, -9223372036854775809, 1e, -, .5, 0x10]',
    "escapes": '{"a": "\\ud83c\\udfb5 \\u00e9\\n\\t\\"\\\\\\/", "lone": "\\ud800", "bad": "\\uZZZZ"}',
    "no-commas": '{"a": 1 "b": [1 2 3] "c": {"d": null}}',
    "deep": "[" * 70 + "]" * 70,
    "deep-objects": '{"a":' * 70 + "1" + "}" * 70,
    "unterminated": '{"title": "Fields',
    "error-reply": '{"message": "You are making requests too quickly."}',
    "empty": b"",
})
target("discogs", {
    "search": search,
    "release": release,
    "search-odd-types": '{"pagination": {"items": "x"}, "results": [{"title": 5, "id": "abc", '
                        '"thumb": ["x"], "format": "CD", "genre": {"a": 1}}, null, 7]}',
    "release-odd-durations": '{"title": "T", "artists": [{"name": "A"}], "tracklist": ['
                             '{"title": "x", "duration": "99999999999999999999:00"}, '
                             '{"title": "y", "duration": "-3:-5"}, {"title": "z", "duration": ":::"}, '
                             '{"title": "w", "duration": 245}]}',
    "not-an-object": "[1, 2, 3]",
    "empty": b"",
})

# MusicBrainz recording searches (XML).
def mb(recordings):
    return ('<?xml version="1.0" encoding="UTF-8"?><metadata xmlns="http://musicbrainz.org/ns/mmd-2.0#" '
            'xmlns:ext="http://musicbrainz.org/ns/ext#-2.0"><recording-list count="2" offset="0">'
            + recordings + "</recording-list></metadata>")

def mb_recording(title, length, artist):
    return (f'<recording id="0f4b-{title}" ext:score="100"><title>{title}</title><length>{length}</length>'
            f'<artist-credit><name-credit><artist id="a1"><name>{artist}</name><sort-name>{artist}</sort-name>'
            f'</artist></name-credit></artist-credit><release-list><release id="r1"><title>Northern Fields'
            f'</title><artist-credit><name-credit><artist><name>Various</name></artist></name-credit>'
            f'</artist-credit></release></release-list></recording>')

target("musicbrainz", {
    "search": mb(mb_recording("Dawn", 245000, "Åster") + mb_recording("Dawn (live)", 251333, "Åster & Kai")),
    "lengths": mb(mb_recording("A", 99999999999999999999, "X") + mb_recording("B", -5, "Y")
                  + mb_recording("C", "x", "Z")),
    "latin1": b'<?xml version="1.0" encoding="ISO-8859-1"?><metadata><recording-list><recording>'
              b'<title>Caf\xe9</title></recording></recording-list></metadata>',
    "unclosed": mb("<recording><title>Dawn</title>"),
    "deep": mb("<recording>" + "<x>" * 300),
    "entities": '<!DOCTYPE m [<!ENTITY a "aaaaaaaaaaaaaaaa">]><metadata><recording-list><recording><title>'
                '&a;&a;&a;</title></recording></recording-list></metadata>',
    "error": "<error><text>Invalid query</text></error>",
    "empty": b"",
})

# AcoustID look-ups (XML).
lookup = ("<?xml version='1.0' encoding='UTF-8'?><response><status>ok</status><results><result>"
          "<id>9ff43b6a</id><recordings><recording><id>cd2e7c47</id>"
          "<artists><artist><id>a1</id><name>Åster</name><joinphrase> &amp; </joinphrase></artist>"
          "<artist><id>a2</id><name>Kai</name></artist></artists><duration>215.7</duration>"
          "<title>Dawn</title><releasegroups><releasegroup><id>g1</id><type>Album</type>"
          "<title>Northern Fields</title><releases><release><id>rel-a</id><date><year>2001</year>"
          "<month>5</month></date><track_count>12</track_count><mediums><medium><position>1</position>"
          "<tracks><track><id>t3</id><position>3</position><title>Dawn</title></track></tracks></medium>"
          "</mediums></release></releases></releasegroup></releasegroups></recording></recordings>"
          "<score>0.987654</score></result></results></response>")
target("acoustid", {
    "lookup": lookup,
    "error": "<?xml version='1.0' encoding='UTF-8'?><response><status>error</status><error><code>4</code>"
             "<message>invalid API key</message></error></response>",
    "no-results": "<response><status>ok</status><results/></response>",
    "odd-numbers": lookup.replace("215.7", "1e400").replace("0.987654", "-inf").replace(
        "<position>3</position>", "<position>99999999999999999999</position>").replace(
        "<year>2001</year>", "<year>-70000</year>").replace("<track_count>12", "<track_count>x"),
    "truncated": lookup[:600],
    "deep": "<response><status>ok</status><results>" + "<result>" * 300,
    "empty": b"",
})

# Names for a FAT drive: tags and file names as they come.
target("fat_names", {
    "plain": "Greatest Hits Vol. 1",
    "forbidden": 'AC/DC: "Live" <1991> | What? * \\ end. . ',
    "controls": b"Tab\there\x01\x1f\x7f",
    "unicode": "Ünïcødé 日本語 🎵 Ωμέγα",
    "dots-only": "...",
    "spaces-only": "   ",
    "long-ascii": "x" * 300 + ".mp3",
    "long-emoji": "🎵" * 200 + ".flac",
    "long-suffix": "a." + "b" * 300,
    "reserved": "CON",
    "lone-surrogate-utf8": b"\xed\xa0\x80abc",
    "invalid-utf8": b"\xff\xfe\xfd",
    "empty": b"",
})
EOF

find corpus -type f -printf '%s\n' | awk '{ bytes += $1 } END { print "corpus: " NR " files, " bytes " bytes" }'
