#include "libtiffcheck.h"

#include "blockreader.h"

#include <QLoggingCategory>

#include <tiffio.h>

#include <cstring>
#include <dlfcn.h>
#include <limits>

namespace tallivo {

namespace {

Q_LOGGING_CATEGORY(lcTiff, "tallivo.tiff")

// libtiff, and the half dozen libraries it brings, are loaded when the
// first file that may be a TIFF file comes, not when the program starts: a
// count of PDF files, or of an empty folder, never needs them. Its
// complaints about damaged files, which it prints to stderr unless told
// otherwise, are silenced then.
struct TiffLibrary
{
    decltype(&TIFFClientOpen) clientOpen = nullptr;
    decltype(&TIFFClose) close = nullptr;
};

#ifdef TALLIVO_TIFF_LIBRARY
template <typename Function> bool resolve(void *handle, const char *name, Function *function)
{
    *function = reinterpret_cast<Function>(::dlsym(handle, name));
    return *function != nullptr;
}
#endif

const TiffLibrary *loadTiffLibrary()
{
    static TiffLibrary library;
    decltype(&TIFFSetErrorHandler) setErrorHandler = nullptr;
    decltype(&TIFFSetWarningHandler) setWarningHandler = nullptr;
    decltype(&TIFFSetErrorHandlerExt) setErrorHandlerExt = nullptr;
    decltype(&TIFFSetWarningHandlerExt) setWarningHandlerExt = nullptr;
#ifdef TALLIVO_TIFF_LIBRARY
    void *handle = ::dlopen(TALLIVO_TIFF_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!handle || !resolve(handle, "TIFFClientOpen", &library.clientOpen) ||
        !resolve(handle, "TIFFClose", &library.close) ||
        !resolve(handle, "TIFFSetErrorHandler", &setErrorHandler) ||
        !resolve(handle, "TIFFSetWarningHandler", &setWarningHandler) ||
        !resolve(handle, "TIFFSetErrorHandlerExt", &setErrorHandlerExt) ||
        !resolve(handle, "TIFFSetWarningHandlerExt", &setWarningHandlerExt)) {
        const char *why = ::dlerror();
        qCWarning(lcTiff, "cannot load %s: %s; TIFF files are checked without it",
                  TALLIVO_TIFF_LIBRARY, why ? why : "symbol missing");
        return nullptr;
    }
#else
    library = {&TIFFClientOpen, &TIFFClose};
    setErrorHandler = &TIFFSetErrorHandler;
    setWarningHandler = &TIFFSetWarningHandler;
    setErrorHandlerExt = &TIFFSetErrorHandlerExt;
    setWarningHandlerExt = &TIFFSetWarningHandlerExt;
#endif
    setErrorHandler(nullptr);
    setWarningHandler(nullptr);
    setErrorHandlerExt(nullptr);
    setWarningHandlerExt(nullptr);
    return &library;
}

const TiffLibrary *tiffLibrary()
{
    static const TiffLibrary *const library = loadTiffLibrary();
    return library;
}

// libtiff reads the header through these, from the blocks already read.
struct TiffSource
{
    BlockReader *reader;
    qint64 offset = 0;
};

tmsize_t tiffRead(thandle_t handle, void *buffer, tmsize_t size)
{
    auto *source = static_cast<TiffSource *>(handle);
    const QByteArrayView bytes = source->reader->viewUpTo(source->offset, qint64(size));
    if (bytes.isEmpty())
        return 0;
    std::memcpy(buffer, bytes.data(), size_t(bytes.size()));
    source->offset += bytes.size();
    return tmsize_t(bytes.size());
}

tmsize_t tiffWrite(thandle_t, void *, tmsize_t)
{
    return -1;
}

toff_t tiffSeek(thandle_t handle, toff_t offset, int whence)
{
    auto *source = static_cast<TiffSource *>(handle);
    qint64 base = 0;
    if (whence == SEEK_CUR)
        base = source->offset;
    else if (whence == SEEK_END)
        base = source->reader->size();
    if (offset > toff_t(std::numeric_limits<qint64>::max() - base))
        return toff_t(-1);
    source->offset = base + qint64(offset);
    return toff_t(source->offset);
}

int tiffClose(thandle_t)
{
    return 0;
}

toff_t tiffSize(thandle_t handle)
{
    return toff_t(static_cast<TiffSource *>(handle)->reader->size());
}

int tiffMap(thandle_t, void **, toff_t *)
{
    return 0;
}

void tiffUnmap(thandle_t, void *, toff_t) {}

} // namespace

bool libtiffOpens(BlockReader &reader, const QByteArray &path)
{
    // Where the library cannot be loaded, the walk of the directories is
    // the only judge.
    const TiffLibrary *library = tiffLibrary();
    if (!library)
        return true;
    TiffSource source{&reader};
    TIFF *tif = library->clientOpen(path.constData(), "rhm", &source, tiffRead, tiffWrite, tiffSeek,
                                    tiffClose, tiffSize, tiffMap, tiffUnmap);
    if (!tif)
        return false;
    library->close(tif);
    return true;
}

} // namespace tallivo
