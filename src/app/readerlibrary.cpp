#include "app/readerlibrary.h"

#include <QCoreApplication>

namespace ridelog {

namespace {

class LibraryReaderControl : public ReaderControl
{
public:
    LibraryReaderControl(const QString& readerOption, const QString& traceFile)
        : library_(card::ReaderConfig{readerOption, traceFile})
    {}

    bool initializeLibrary(card::ReaderContext&) override { return library_.initialize_library(); }
    bool openReaderWriterAuto(card::ReaderContext&) override
    {
        return library_.open_reader_writer_auto();
    }
    void closeReaderWriter(card::ReaderContext&) override { library_.close_reader_writer(); }
    void disposeLibrary(card::ReaderContext&) override { library_.dispose_library(); }
    card::ReaderLibrary* library() override { return &library_; }

private:
    card::ReaderLibrary library_;
};

} // namespace

QStringList ReaderControl::failureReasons()
{
    const card::ReaderLibrary* readerLibrary = library();
    return readerLibrary != nullptr ? readerLibrary->openFailureReasons() : QStringList{};
}

std::unique_ptr<ReaderControl> makeReaderControl(const QString& readerOption,
                                                 const QString& traceFile)
{
    return std::make_unique<LibraryReaderControl>(readerOption, traceFile);
}

int openReader(card::ReaderContext& context, ReaderControl& library)
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

void closeReader(std::unique_ptr<card::ReaderContext>& context, ReaderControl& library)
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
        return QCoreApplication::translate(
            "ReaderLibrary", "ICカードリーダ ドライバが\r\nインストールされていません。");
    case ReaderOpenFailed:
        return QCoreApplication::translate(
            "ReaderLibrary", "ICカードリーダが接続されていません。\r\n接続と再起動が必要です。");
    default:
        return QCoreApplication::translate("ReaderLibrary", "予期しないエラーが発生しました。");
    }
}

QString replayFailureText(const QStringList& reasons)
{
    QString text =
        QCoreApplication::translate("ReaderLibrary", "リーダーのトレースを再生できません。");
    for (const QString& reason : reasons)
        text += QStringLiteral("\r\n") + reason;
    return text;
}

} // namespace ridelog
