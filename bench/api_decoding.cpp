// Records decoded per second for each service answer, next to parsing the
// same bytes with QJsonDocument alone: the price of the strict checks.
#include "service/api.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <benchmark/benchmark.h>

namespace {

const QByteArray recording =
    R"({"data":{"id":4242,"status":"ready","transcript":"[00:00] Добрый день, начинаем встречу. [00:05] Сначала итоги прошлой недели.",)"
    R"("failure":null,"duration_sec":3600,"minutes":{"summary":"Обсудили выпуск","decisions":["Выпуск в пятницу","Тесты до среды"],)"
    R"("tasks":[{"what":"Собрать сборку","who":"Анна","when":"среда"},{"what":"Проверить звук","who":"Олег","when":"четверг"}],)"
    R"("questions":["Кто дежурит?"]}}})";
const QByteArray polling = R"({"data":{"id":4242,"status":"processing"}})";
const QByteArray limits =
    R"({"limits":{"speech":{"used":3,"limit":10,"left":7},"screenshots":{"used":12,"limit":1000,"left":988}},"plan":"team"})";
const QByteArray sharedShot =
    R"({"data":{"link":"https://korvala.app/s/4f2a9c","image":"https://korvala.app/s/4f2a9c.png","days":"7 дней"}})";
const QByteArray versionCheck =
    R"({"status":"optional","update_url":"https://korvala.app/download","title":"Вышла новая версия",)"
    R"("message":"Быстрее отправляются записи","remind_after_days":3})";
const QByteArray signIn = R"({"token":"6f1c0a4d9e8b7a6f5e4d3c2b1a0f9e8d7c6b5a4f","user":{"name":"Анна"}})";

template <typename R>
void decode(benchmark::State& state, const QByteArray& bytes)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeAnswer<R>(bytes));
    state.SetItemsProcessed(state.iterations());
}

void parseOnly(benchmark::State& state, const QByteArray& bytes)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(QJsonDocument::fromJson(bytes));
    state.SetItemsProcessed(state.iterations());
}

// The same members read without any checks: what remains of the strict
// decoding's cost once the values are taken out of the document at all.
void looseRecording(benchmark::State& state, const QByteArray& bytes)
{
    for (auto _ : state) {
        const QJsonObject data = QJsonDocument::fromJson(bytes).object().value("data").toObject();
        Api::Recording r;
        r.id = data.value("id").toInteger();
        r.status = data.value("status").toString();
        r.transcript = data.value("transcript").toString();
        r.failure = data.value("failure").toString();
        r.durationSec = data.value("duration_sec").toInteger();
        const QJsonObject minutes = data.value("minutes").toObject();
        Api::Minutes m;
        m.summary = minutes.value("summary").toString();
        for (const QJsonValue& v : minutes.value("decisions").toArray())
            m.decisions.push_back(v.toString());
        for (const QJsonValue& v : minutes.value("tasks").toArray()) {
            const QJsonObject t = v.toObject();
            m.tasks.push_back({t.value("what").toString(), t.value("who").toString(), t.value("when").toString()});
        }
        for (const QJsonValue& v : minutes.value("questions").toArray())
            m.questions.push_back(v.toString());
        r.minutes = std::move(m);
        benchmark::DoNotOptimize(r);
    }
    state.SetItemsProcessed(state.iterations());
}

void decodeRecording(benchmark::State& state, const QByteArray& bytes)
{
    decode<Api::Envelope<Api::Recording>>(state, bytes);
}
void decodeLimits(benchmark::State& state, const QByteArray& bytes)
{
    decode<Api::LimitAnswer>(state, bytes);
}
void decodeSharedShot(benchmark::State& state, const QByteArray& bytes)
{
    decode<Api::Envelope<Api::SharedShot>>(state, bytes);
}
void decodeVersionCheck(benchmark::State& state, const QByteArray& bytes)
{
    decode<Api::VersionCheck>(state, bytes);
}
void decodeSignIn(benchmark::State& state, const QByteArray& bytes)
{
    decode<Api::SignInAnswer>(state, bytes);
}

} // namespace

BENCHMARK_CAPTURE(decodeRecording, recording_ready, recording);
BENCHMARK_CAPTURE(parseOnly, recording_ready, recording);
BENCHMARK_CAPTURE(looseRecording, recording_ready, recording);
BENCHMARK_CAPTURE(decodeRecording, recording_processing, polling);
BENCHMARK_CAPTURE(parseOnly, recording_processing, polling);
BENCHMARK_CAPTURE(decodeLimits, limits, limits);
BENCHMARK_CAPTURE(parseOnly, limits, limits);
BENCHMARK_CAPTURE(decodeSharedShot, shared_shot, sharedShot);
BENCHMARK_CAPTURE(parseOnly, shared_shot, sharedShot);
BENCHMARK_CAPTURE(decodeVersionCheck, version_check, versionCheck);
BENCHMARK_CAPTURE(parseOnly, version_check, versionCheck);
BENCHMARK_CAPTURE(decodeSignIn, sign_in, signIn);
BENCHMARK_CAPTURE(parseOnly, sign_in, signIn);

BENCHMARK_MAIN();
