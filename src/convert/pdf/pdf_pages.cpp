#include "convert/pdf/pdf_pages.h"

#include "convert/core/converters.h"
#include "convert/core/errors.h"
#include "convert/core/output_file.h"
#include "convert/core/paths.h"
#include "convert/core/text.h"
#include "convert/images/image_encode.h"
#include "convert/pdf/pdf_render.h"

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
        output.WriteFile(FormatText("Page %03d.%s", i + 1, extension.c_str()), bytes);
        context.Report(static_cast<double>(i + 1) / pages);
    }
    return {output.Publish()};
}

// JPG pages take the quality of the Target like any image conversion; every other image
// target gets its own encoder rather than PNG bytes under a foreign extension.
std::vector<std::string> ConvertPdfPages(const std::string& input, const Target& target, ConvertContext& context) {
    const int32_t quality = images::EffectiveQuality(target.option);
    return ExportPdfPages(input, target, context, [&](const images::PixelBuffer& page) {
        return images::EncodeImage(page, target.format, quality);
    });
}
