// Feeds arbitrary bytes to the decoder of the old-file reader's output: what it takes must be exactly what a
// reader writes for the contacts it returns; anything else must be refused as unreadable, never crash.

#include "oldfile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArrayView output(data, qsizetype(size));
    try {
        if (oldfile::encodeFrames(oldfile::decodeFrames(output)) != output)
            qFatal("decoded output differs from what a reader writes for the same contacts");
    } catch (const FileError &) {
    }
    return 0;
}
