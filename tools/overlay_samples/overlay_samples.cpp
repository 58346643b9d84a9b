#include "overlay_samples/overlay_samples.hpp"

namespace {

struct CardLine {
    const char* name;
    const char* colors;
    const char* grade;
    const char* reason;
};

const CardLine kPack[] = {
    {"Sunfall Warden", "W", "A-", "Two bodies for four mana and it blocks fliers."},
    {"Stormcaller's Reach", "UR", "B+", "Removal that also draws a card."},
    {"Mirefang Stalker", "B", "B", "Solid three-drop with menace."},
    {"Thornback Brute", "G", "B-", "Big, cheap, and fine in any green deck."},
    {"Emberline Duelist", "R", "C+", "Aggressive two-drop."},
    {"Tidewatch Scholar", "U", "C+", "Card flow on a body."},
    {"Gravebloom Ritualist", "BG", "C", "Only good if you're base black-green."},
    {"Lanternwick Acolyte", "W", "C", "Filler lifegain."},
    {"Cinderstep Raider", "R", "C-", "Too fragile."},
    {"Fogbound Recluse", "U", "C-", "Defensive filler."},
    {"Brambleguard Totem", "", "D+", "Colourless mana rock, slow."},
    {"Rustgate Sentinel", "", "D", "Overcosted artifact creature."},
    {"Ashen Pilgrim", "B", "D", "Rarely makes the deck."},
    {"Wandering Lamplighter", "W", "D-", "Weak."},
    {"Plains", "", "F", "Basic land."},
};

KVCardRef cardOf(const CardLine& line) {
    auto card = std::make_shared<KVCard>(line.name);
    for (const char* c = line.colors; *c != 0; ++c) {
        card->colors.emplace_back(1, *c);
    }
    card->typeLine = std::string(line.name) == "Plains" ? "Basic Land — Plains" : "Creature";
    return card;
}

std::shared_ptr<KVDraftSession> baseSession() {
    auto session = std::make_shared<KVDraftSession>(nullptr);
    session->packNumber = 1;
    session->pickNumber = 3;
    session->numToPick = 1;
    session->credits = 42;
    for (size_t i = 0; i < std::size(kPack); ++i) {
        session->pack.push_back(cardOf(kPack[i]));
        session->packSlots.push_back(int64_t(i));
    }
    return session;
}

} // namespace

std::shared_ptr<KVDraftSession> KVFullPackSession() {
    auto session = baseSession();
    for (const CardLine& line : kPack) {
        session->grades[KVCard::normalize(line.name)] = {line.grade, line.reason};
    }
    session->bestPick = kPack[0].name;
    session->runnerUp = kPack[1].name;
    session->summary = "White is flowing from the right and this is its best common.";
    session->warning = "Your pool is light on two-drops.";
    session->colorsOpen = {"W", "G"};
    session->lane = {{"commitment", "leaning"},
                     {"colors", "WG"},
                     {"contested", {"U"}},
                     {"cut", {"R"}},
                     {"hole", "Cheap removal: nothing under three mana yet."},
                     {"watch", "Blue is being taken upstream."}};
    session->table = {
        {"colours",
         {{{"colour", "W"},
           {"score", 4.2},
           {"tier", "wide"},
           {"late", {"Sunfall Warden", "Lanternwick Acolyte"}},
           {"wheeled", {"Lanternwick Acolyte"}}},
          {{"colour", "G"}, {"score", 3.1}, {"tier", "open"}, {"late", {"Thornback Brute"}}},
          {{"colour", "B"}, {"score", 1.8}, {"tier", "some"}},
          {{"colour", "U"}, {"score", 0.6}, {"tier", "thin"}},
          {{"colour", "R"}, {"score", 0}, {"tier", "cut"}}}},
        {"pack", 1},
        {"from", "RIGHT"},
        {"wheelsAt", 9},
        {"bots", true},
        {"cuts", "P1 cuts: red, blue"}};
    session->poolRead = {{"playables", 9},
                         {"target", 23},
                         {"creatures", 6},
                         {"removal", 2},
                         {"cardsLeft", 31},
                         {"tricks", 1},
                         {"fixing", 0},
                         {"curve", {{"1", 0}, {"2", 2}, {"3", 3}, {"4", 2}}},
                         {"shortOn", {"two-drops", "removal"}}};
    for (int i = 0; i < 8; ++i) {
        session->pool.push_back(cardOf(kPack[size_t(i) % std::size(kPack)]));
    }
    return session;
}

std::vector<KVPanelSample> KVPanelSamples() {
    std::vector<KVPanelSample> samples;
    const auto add = [&samples](std::string name, std::string description,
                                std::shared_ptr<KVDraftSession> session) -> KVPanelSample& {
        samples.push_back({std::move(name), std::move(description), std::move(session)});
        return samples.back();
    };

    add("pack-full", "PACK: the call, 15 graded rows, chips, warning, HOLE and WATCH",
        KVFullPackSession());
    add("table", "TABLE: five lanes, header, notes", KVFullPackSession()).view = "table";
    add("deck", "DECK: six figures, curve, shortfall", KVFullPackSession()).view = "deck";

    auto two = KVFullPackSession();
    two->numToPick = 2;
    two->secondPick = kPack[1].name;
    two->runnerUp = kPack[2].name;
    add("pack-take-two", "PACK with two picks: TAKE TWO and two highlighted rows", two);

    auto reading = baseSession();
    reading->analyzing = true;
    add("pack-reading", "PACK while the first answer is coming: dots in every badge", reading);

    auto error = KVFullPackSession();
    error->analyzeError = "the service is busy";
    add("pack-no-grades", "PACK after a failed analysis: NO GRADES", error);

    auto waiting = baseSession();
    add("pack-waiting", "PACK before any grade: the WAITING note", waiting);

    auto emptyTable = KVFullPackSession();
    emptyTable->table = KVJson::object();
    emptyTable->poolRead = KVJson::object();
    add("table-empty", "TABLE with nothing seen yet", emptyTable).view = "table";
    add("deck-empty", "DECK with nothing drafted", emptyTable).view = "deck";

    auto locked = KVFullPackSession();
    locked->locked = true;
    add("locked", "Locked: no credits", locked);

    auto complete = KVFullPackSession();
    complete->completed = true;
    complete->pool.assign(42, complete->pack.front());
    add("draft-complete", "Draft complete with the Build button", complete);

    add("waiting", "No draft running", std::make_shared<KVDraftSession>(nullptr)).inDraft = false;
    add("minimized", "Minimised: header only", KVFullPackSession()).minimized = true;
    add("arena-not-running", "Arena installed but not running: notice and launch button", nullptr)
        .arenaRunning = false;
    KVPanelSample& missing =
        add("arena-not-installed", "Arena not found on this computer: notice alone", nullptr);
    missing.arenaRunning = false;
    missing.arenaInstalled = false;
    return samples;
}

std::vector<KVAdvice> KVSampleAdvice(bool graded) {
    std::vector<KVAdvice> rows;
    for (size_t i = 0; i < std::size(kPack); ++i) {
        KVAdvice row;
        row.card = cardOf(kPack[i]);
        row.grade = graded ? kPack[i].grade : "?";
        row.reason = kPack[i].reason;
        row.slot = int64_t(i);
        rows.push_back(std::move(row));
    }
    return rows;
}

KVArenaScreenSpec KVSampleScreenSpec(int width, int height) {
    KVArenaScreenSpec spec;
    spec.width = width;
    spec.height = height;
    kKVArenaLayouts[0].applyTo(spec);
    return spec;
}
