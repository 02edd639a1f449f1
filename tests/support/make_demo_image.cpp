// MakeDemoImage [--no-hint] <folder> [sample.ts]
// Writes <folder>/PhysicalDrive0: a sparse recorder disk image of about 40 GB
// with a few folders and recordings, for trying the programs out with
// QUENBRIX_DEVICES=<folder>. --no-hint leaves out the line that says so (for
// scripts that start the program themselves).
#include "platform/platform.h"
#include "tests/support/image_builder.h"

#include <cstdio>
#include <exception>
#include <string>
#include <sys/stat.h>

#ifndef QUENBRIX_TEST_DATA
#define QUENBRIX_TEST_DATA "tests/data"
#endif

using namespace imagebuilder;

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

int main(int argc, char** argv) {
  const bool hint = !(argc > 1 && std::string(argv[1]) == "--no-hint");
  if (!hint) {
    --argc;
    ++argv;
  }
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: MakeDemoImage [--no-hint] <folder> [sample.ts]\n"
                         "Writes <folder>/PhysicalDrive0, a sparse demo recorder disk image.\n");
    return 2;
  }
  const std::string folder = argv[1];
  const std::string sample = argc == 3 ? argv[2] : std::string(QUENBRIX_TEST_DATA) + "/sample.ts";
  try {
    struct stat st;
    if (stat(sample.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      std::fprintf(stderr, "MakeDemoImage: no transport stream at %s\n", sample.c_str());
      return 1;
    }
    if (!platform::MakePath(folder)) {
      std::fprintf(stderr, "MakeDemoImage: cannot create the folder %s\n", folder.c_str());
      return 1;
    }
    ImageSpec spec;
    spec.SectorsPerCluster = 2068;
    spec.SizeBytes = 40000000000ull;    // about 40 GB, sparse on the PC
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

    const std::string path = folder + "/PhysicalDrive0";
    disk.Write(path);
    std::printf("Wrote %s: %llu bytes (sparse), %u sectors per cluster, LastCluster %lld, %zu entries.\n",
                path.c_str(), static_cast<unsigned long long>(disk.SizeBytes()), disk.SectorsPerCluster(),
                static_cast<long long>(disk.LastCluster()), disk.Paths().size());
    if (hint) std::printf("Run the programs with QUENBRIX_DEVICES=%s\n", folder.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "MakeDemoImage: %s\n", e.what());
    return 1;
  }
  return 0;
}
