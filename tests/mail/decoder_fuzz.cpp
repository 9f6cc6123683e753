// decoder_fuzz CORPUS_FOLDER [SECONDS] [SEED]
//
// Mutates the mails of the decoding corpus (bytes flipped, MIME tokens put
// in, pieces cut out, repeated or spliced from another mail) and decodes
// each result for the given time (default LUMORA_FUZZ_SECONDS, else 10).
// A crash or sanitizer report ends the process with the input it was on in
// the file named by LUMORA_FUZZ_INPUT (default decoder_fuzz_input.eml in the
// working folder); an input that takes more than 2 s is written to
// decoder_fuzz_slow.eml and fails the run. Such inputs become files of the
// corpus.

#include "mail/attachment_files.h"
#include "mail/mime_decoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cstdio>
#include <random>

using namespace lumora;

namespace {

const QList<QByteArray> kTokens = {
    "=?",
    "?=",
    "=?ISO-2022-JP?B?",
    "=?UTF-8?Q?",
    "=?Shift_JIS?B?",
    "\r\n",
    "\r\n\r\n",
    "\n",
    "\r",
    "--",
    "\r\n--b\r\n",
    "Content-Type: multipart/mixed; boundary=b\r\n",
    "Content-Type: message/rfc822\r\n\r\n",
    "Content-Type: message/partial; id=x; number=1; total=2\r\n",
    "Content-Transfer-Encoding: base64\r\n",
    "Content-Transfer-Encoding: quoted-printable\r\n",
    "Content-Disposition: attachment; filename*0*=utf-8''%E3%81",
    "; name=\"",
    "\"",
    "\\",
    "begin 644 a.txt\r\n",
    "\r\nend\r\n",
    "<script>",
    "<!--",
    "<br>",
    "&#",
    "&amp",
    "\x1b$B",
    "\x1b(B",
    "\x1b(I",
    "\x0e",
    "\x0f",
    QByteArray(1, '\0'),
    "\x81",
    "\xe3\x81",
    "=\r\n",
    "=3D",
    "/../../",
};

QByteArray mutate(const QList<QByteArray>& corpus, std::mt19937& rng)
{
    auto pick = [&](qsizetype n) {
        return n <= 0 ? qsizetype(0)
                      : static_cast<qsizetype>(
                            std::uniform_int_distribution<qsizetype>(0, n - 1)(rng));
    };
    QByteArray data = corpus[pick(corpus.size())];
    const int steps = 1 + static_cast<int>(pick(8));
    for (int s = 0; s < steps; ++s) {
        const qsizetype at = pick(data.size() + 1);
        switch (pick(6)) {
        case 0: // flip bytes
            for (int i = 0; i < 4 && !data.isEmpty(); ++i) {
                data[pick(data.size())] = static_cast<char>(pick(256));
            }
            break;
        case 1: // a token
            data.insert(at, kTokens[pick(kTokens.size())]);
            break;
        case 2: // cut a piece out
            data.remove(at, pick(256));
            break;
        case 3: { // repeat a piece
            const QByteArray piece = data.mid(at, 1 + pick(64));
            const qsizetype times = 1 + pick(200);
            data.insert(at, piece.repeated(times));
            break;
        }
        case 4: { // splice in a piece of another mail
            const QByteArray& other = corpus[pick(corpus.size())];
            const qsizetype from = pick(other.size());
            data.insert(at, other.mid(from, pick(2048)));
            break;
        }
        default: // cut the end off
            data.truncate(at);
            break;
        }
    }
    return data;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: decoder_fuzz CORPUS_FOLDER [SECONDS] [SEED]\n");
        return 2;
    }
    QList<QByteArray> corpus;
    const QDir folder(args[1]);
    for (const QString& name : folder.entryList({QStringLiteral("*.eml")}, QDir::Files)) {
        QFile file(folder.filePath(name));
        if (file.open(QIODevice::ReadOnly)) {
            corpus.append(file.readAll());
        }
    }
    if (corpus.isEmpty()) {
        std::fprintf(stderr, "no mails in %s\n", qUtf8Printable(args[1]));
        return 2;
    }
    const int envSeconds = qEnvironmentVariableIntValue("LUMORA_FUZZ_SECONDS");
    const int seconds = args.size() > 2 ? args[2].toInt() : (envSeconds > 0 ? envSeconds : 10);
    const unsigned seed = args.size() > 3 ? args[3].toUInt() : std::random_device()();
    const QString inputFile = qEnvironmentVariableIsSet("LUMORA_FUZZ_INPUT")
                                  ? qEnvironmentVariable("LUMORA_FUZZ_INPUT")
                                  : QStringLiteral("decoder_fuzz_input.eml");
    std::mt19937 rng(seed);
    std::printf("seed %u, %lld mails, %d s\n", seed, static_cast<long long>(corpus.size()),
                seconds);

    QElapsedTimer total;
    total.start();
    long runs = 0;
    while (total.elapsed() < seconds * 1000LL) {
        const QByteArray input = mutate(corpus, rng);
        writeFile(inputFile, input);
        QElapsedTimer one;
        one.start();
        const mime::DecodedMail mail = mime::decodeMail(input);
        for (const mime::Attachment& file : mail.attachments) {
            const QString name = attachments::safeFileName(file.name);
            if (name.isEmpty() || name.contains(QLatin1Char('/')) || name == QLatin1String("..")) {
                writeFile(QStringLiteral("decoder_fuzz_unsafe.eml"), input);
                std::fprintf(stderr, "unsafe file name %s (input in decoder_fuzz_unsafe.eml)\n",
                             qUtf8Printable(name));
                return 1;
            }
        }
        if (one.elapsed() > 2000) {
            writeFile(QStringLiteral("decoder_fuzz_slow.eml"), input);
            std::fprintf(stderr, "an input took %lld ms (in decoder_fuzz_slow.eml)\n",
                         static_cast<long long>(one.elapsed()));
            return 1;
        }
        ++runs;
    }
    QFile::remove(inputFile);
    std::printf("%ld inputs decoded\n", runs);
    return 0;
}
