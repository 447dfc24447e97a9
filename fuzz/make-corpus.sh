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
EOF

find corpus -type f -printf '%s\n' | awk '{ bytes += $1 } END { print "corpus: " NR " files, " bytes " bytes" }'
