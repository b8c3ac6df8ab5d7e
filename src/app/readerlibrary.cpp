#include "app/readerlibrary.h"

namespace ridelog {

namespace {

class LayerReaderLibrary : public ReaderLibrary
{
public:
    explicit LayerReaderLibrary(QString readerSpec)
        : readerSpec_(std::move(readerSpec))
    {}

    bool initializeLibrary(card::ReaderContext& context) override
    {
        context.readerSpec = readerSpec_;
        return true;
    }
    bool openReaderWriterAuto(card::ReaderContext&) override { return true; }
    void closeReaderWriter(card::ReaderContext&) override {}
    void disposeLibrary(card::ReaderContext&) override {}

private:
    QString readerSpec_;
};

} // namespace

std::unique_ptr<ReaderLibrary> makeReaderLibrary(const QString& readerSpec)
{
    return std::make_unique<LayerReaderLibrary>(readerSpec);
}

int openReader(card::ReaderContext& context, ReaderLibrary& library)
{
    if (!context.libraryInitialised) {
        if (!library.initializeLibrary(context))
            return LibraryStartFailed;
    }
    context.libraryInitialised = true;
    if (!context.readerOpen) {
        if (!library.openReaderWriterAuto(context))
            return ReaderOpenFailed;
    }
    context.readerOpen = true;
    return ReaderOpened;
}

void closeReader(std::unique_ptr<card::ReaderContext>& context, ReaderLibrary& library)
{
    if (!context)
        return;
    if (context->readerOpen) {
        library.closeReaderWriter(*context);
        context->readerOpen = false;
    }
    if (context->libraryInitialised) {
        library.disposeLibrary(*context);
        context->libraryInitialised = false;
    }
    context.reset();
}

QString openReaderFailureText(int result)
{
    switch (result) {
    case LibraryStartFailed:
        return QStringLiteral("ICカードリーダ ドライバが\r\nインストールされていません。");
    case ReaderOpenFailed:
        return QStringLiteral("ICカードリーダが接続されていません。\r\n接続と再起動が必要です。");
    default:
        return QStringLiteral("予期しないエラーが発生しました。");
    }
}

} // namespace ridelog
