// Replays fuzz inputs, every file of the folders given, through the fuzz target without libFuzzer.

#include <QDirIterator>
#include <QFile>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char *argv[])
{
    int replayed = 0;
    for (int i = 1; i < argc; ++i) {
        for (QDirIterator files(QFile::decodeName(argv[i]), QDir::Files); files.hasNext(); ++replayed) {
            QFile file(files.next());
            if (!file.open(QIODevice::ReadOnly))
                return std::fprintf(stderr, "cannot read %s\n", qPrintable(file.fileName())), 1;
            const QByteArray input = file.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.constData()), size_t(input.size()));
        }
    }
    std::printf("%d inputs replayed\n", replayed);
    return replayed > 0 ? 0 : 1;
}
