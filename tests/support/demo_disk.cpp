#include "tests/support/demo_disk.h"

namespace imagebuilder {

namespace {

FileSpec Recording(const std::string& path, const std::string& sample, uint32_t repeat,
                   const std::string& service, const std::string& event, const std::string& text,
                   Date when) {
  FileSpec f;
  f.Path = path;
  f.When = when;
  f.Data = Content::SampleTs(sample);
  f.SampleTsRepeat = repeat;
  RecHeader h;
  h.ServiceName = service;
  h.EventName = event;
  h.EventText = text;
  h.DurationMinutes = static_cast<uint16_t>((repeat * 8 + 59) / 60);
  f.Header = h;
  f.CryptFlags = 4;
  f.CryptValue = 2;
  return f;
}

Date At(int y, int mo, int d, int h, int mi) {
  Date date;
  date.Year = y; date.Month = mo; date.Day = d; date.Hour = h; date.Minute = mi; date.Second = 0;
  return date;
}

}  // namespace

DiskImage DemoDisk(const std::string& sample) {
  ImageSpec spec;
  spec.SectorsPerCluster = 2068;
  spec.SizeBytes = 40000000000ull;    // about 40 GB, sparse on the PC
  spec.VersionMinor = 1;              // layout version 0x0101, as other tools want it
  spec.ZeroFatTails = true;
  DiskImage disk(spec);

  disk.AddFolder("\\DataFiles\\Films");
  disk.AddFolder("\\DataFiles\\News");
  disk.AddFolder("\\DataFiles\\Films\\Classics");
  disk.AddFolder("\\MP3");

  disk.AddFile(Recording("\\DataFiles\\Evening News.rec", sample, 2, "Das Erste",
                         "Tagesschau", "News of the day.\r\nWeather.", At(2006, 3, 14, 20, 0)));
  disk.AddFile(Recording("\\DataFiles\\News\\Late News.rec", sample, 1, "ZDF",
                         "heute journal", "", At(2006, 3, 14, 21, 45)));
  disk.AddFile(Recording("\\DataFiles\\Films\\The Long Film.rec", sample, 12, "arte",
                         "The Long Film", "A film in two parts.", At(2006, 2, 1, 20, 15)));
  disk.AddFile(Recording("\\DataFiles\\Films\\Classics\\M\xFCnchen 1972.rec", sample, 4, "BR",
                         "M\xFCnchen 1972", "Caf\xE9 sc\xE8nes \x80 10", At(2005, 12, 24, 18, 30)));

  // A recording spread over scattered clusters.
  FileSpec fragmented = Recording("\\DataFiles\\Films\\Fragmented.rec", sample, 3, "3sat",
                                  "Fragmented", "Its clusters are scattered.", At(2006, 1, 7, 22, 5));
  fragmented.Chain = {400, 120, 777, 121};
  disk.AddFile(fragmented);

  // A recording without a header (a stream copied over as it is).
  FileSpec bare;
  bare.Path = "\\DataFiles\\No Header.rec";
  bare.When = At(2006, 4, 2, 9, 30);
  bare.Data = Content::SampleTs(sample);
  bare.SampleTsRepeat = 2;
  disk.AddFile(bare);

  FileSpec tap;
  tap.Path = "\\ProgramFiles\\Demo.tap";
  tap.When = At(2005, 11, 5, 12, 0);
  tap.Size = 123457;
  tap.Data = Content::Pattern(7);
  disk.AddFile(tap);

  FileSpec song;
  song.Path = "\\MP3\\Song.mp3";
  song.When = At(2005, 10, 1, 8, 0);
  song.Size = 3000001;
  song.Data = Content::Pattern(11);
  disk.AddFile(song);
  return disk;
}

}  // namespace imagebuilder
