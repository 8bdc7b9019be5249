// bench-mupdf-loop: the page count of every PDF below the given folders with
// MuPDF, on two threads with a context each, as a plain program built on the
// library would do it. The yardstick tallivo-count is timed against.
extern "C" {
#include <mupdf/fitz.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

bool isPdfName(const fs::path &path)
{
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".pdf";
}

// MuPDF prints every complaint about a damaged file; a benchmark wants none.
void quiet(void *, const char *) {}

} // namespace

int main(int argc, char *argv[])
{
    int threads = 2;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--threads" && i + 1 < argc) {
            threads = std::max(1, std::atoi(argv[++i]));
            continue;
        }
        std::error_code error;
        for (fs::recursive_directory_iterator it(arg, error), end; !error && it != end;
             it.increment(error)) {
            if (it->is_regular_file(error) && isPdfName(it->path()))
                files.push_back(it->path().string());
        }
    }
    if (files.empty()) {
        std::fputs("Usage: bench-mupdf-loop [--threads N] FOLDER...\n"
                   "Counts the pages of the PDF files below FOLDER with MuPDF, on N threads\n"
                   "(default 2), one context per thread.\n",
                   stderr);
        return 2;
    }
    // Walk order is directory order; sorted, every run shares out the same files.
    std::sort(files.begin(), files.end());

    std::atomic<size_t> next{0};
    std::atomic<long long> pages{0};
    std::atomic<long long> failed{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&] {
            fz_context *ctx = fz_new_context(nullptr, nullptr, FZ_STORE_DEFAULT);
            if (!ctx)
                return;
            fz_set_error_callback(ctx, quiet, nullptr);
            fz_set_warning_callback(ctx, quiet, nullptr);
            fz_register_document_handlers(ctx);
            for (size_t i; (i = next.fetch_add(1)) < files.size();) {
                fz_document *doc = nullptr;
                volatile int count = 0; // set between setjmp and longjmp
                fz_var(doc);
                fz_try(ctx)
                {
                    doc = fz_open_document(ctx, files[i].c_str());
                    count = fz_count_pages(ctx, doc);
                }
                fz_always(ctx) fz_drop_document(ctx, doc);
                fz_catch(ctx) count = -1;
                if (count < 0)
                    failed.fetch_add(1);
                else
                    pages.fetch_add(count);
            }
            fz_drop_context(ctx);
        });
    }
    for (std::thread &t : pool)
        t.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("files: %zu  pages: %lld  failed: %lld  threads: %d  seconds: %.3f\n", files.size(),
                pages.load(), failed.load(), threads, seconds);
    return 0;
}
