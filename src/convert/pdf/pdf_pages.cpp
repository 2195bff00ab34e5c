#include "convert/pdf/pdf_pages.h"

#include "convert/core/converters.h"
#include "convert/core/errors.h"
#include "convert/core/output_file.h"
#include "convert/core/paths.h"
#include "convert/core/status.h"
#include "convert/core/text.h"
#include "convert/pdf/pdf_render.h"
#include "platform/file_io.h"

std::vector<std::string> ExportPdfPages(const std::string& input, const Target& target, ConvertContext& context,
                                        const PageEncoder& encode) {
    LoadedPdf pdf(input);
    const int pages = pdf.PageCount();
    const std::string extension(FormatExtension(target.format));
    const std::string folder = FolderOf(input), stem = StemOf(input);

    auto renderPage = [&](int index) {
        context.ThrowIfCancelled();
        images::PixelBuffer page = pdf.Render(index, ExportRenderSize(pdf.Size(index)), context);
        return encode(page);
    };
    if (pages == 1) {
        std::string bytes = renderPage(0);
        context.ThrowIfCancelled();
        std::string output = PublishOutput(folder, stem, extension, bytes);
        context.Report(1.0);
        return {output};
    }

    OutputFolder output(folder, stem + " pages");
    for (int i = 0; i < pages; ++i) {
        std::string bytes = renderPage(i);
        std::string path = JoinPath(output.Path(), FormatText("Page %03d.%s", i + 1, extension.c_str()));
        int error = 0;
        switch (WriteNewFile(path, bytes, error)) {
        case NewFileResult::kWritten: break;
        case NewFileResult::kCreateFailed: throw ConvertError("Couldn't create the output file", HResultFromErrno(error));
        case NewFileResult::kWriteFailed: throw ConvertError("Couldn't write the output file (disk full?)");
        }
        context.Report(static_cast<double>(i + 1) / pages);
    }
    return {output.Publish()};
}

// Page images go through the image encoders, which have not landed in this build yet.
std::vector<std::string> ConvertPdfPages(const std::string&, const Target&, ConvertContext&) {
    throw ConvertError("Turning PDF pages into images isn't available in this version yet");
}
