// Balance profiles: any text parses; a profile written and read again is the
// same; a usable profile balances a ship in every mode within the bound, never
// leaves the average further from 100 and writes a record that reads back
// within the profile.
#include "balancer.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_profile: %s\n", what);
        std::abort();
    }
}

const char kShip[] =
    "ships\\x;1;0.12;0.1;0.1;2;0;24000;1600;106;1;5;37;3000;112;202;s;c;7;2;2400;0.09;1;3;3;2;8;8;"
    "15;40;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;3500;35;36;1;1;0;2;1;1;0;0;0;0;1;0;25;1;0;0;0;0;0;SS_X;";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    bool huge = false;
    BalanceProfile p = ParseProfile(text, &huge);
    require(ProfileText(ParseProfile(ProfileText(p))) == ProfileText(p), "profile text changed");
    if (huge || !ProfileProblem(p).isEmpty())
        return 0;
    p.shipClass = 2;
    for (BalanceMode mode : {BalanceMode::Equal, BalanceMode::LowestFirst, BalanceMode::HighestFirst}) {
        Balancer b(p);
        require(b.load(QString::fromLatin1(kShip)), "the ship did not load");
        const int before = b.average();
        const BalanceRun run = b.balance(mode, BalanceSlider(size % kBalanceSliders));
        require(run.stop != BalanceRun::Stop::StepLimit, "the step limit was reached");
        require(std::abs(run.averageAfter - 100) <= std::abs(before - 100), "A moved away from 100");
        Balancer again(p);
        require(again.load(b.record()), "the balanced record did not load");
        for (int i = 0; i < kBalanceSliders; ++i) {
            const BalanceSlider s = BalanceSlider(i);
            require(b.value(s) >= b.minimum(s) && b.value(s) <= b.maximum(s), "slider out of range");
            if (s != BalanceSlider::Shields && !(s == BalanceSlider::Recharge &&
                                                  again.loadedStatistic(BalanceSlider::Weapons) == 0))
                require(again.loadedStatistic(s) >= b.range(s).min &&
                            again.loadedStatistic(s) <= b.range(s).max,
                        "a written field lies outside the profile");
        }
    }
    return 0;
}
