// validate's guided search, in the manner of coverage-guided fuzzers: a
// corpus of sessions that showed new behaviour, and new sessions made from
// them by mutation (a run of steps inserted, deleted or repeated, fifteen
// ticks in a row among them; two sessions spliced; a value swapped for a
// dictionary word; a text grown or cut to a length binaries care about; a
// number swapped for one the script's code compared against),
// beside sessions drawn blind as before. It runs in the
// parent only; sessions are asked for and offered back in session order, so
// the same seed and inputs give the same sessions however many workers play.
#ifndef SESSION_EXPLORER_H
#define SESSION_EXPLORER_H

#include "panel_layout.h"
#include "search_dictionary.h"
#include "session_features.h"
#include "session_generator.h"
#include "text_file.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

struct ExploreSettings {
    std::uint64_t seed = 1;
    int steps = 100;     // a blind session's length
    int maxSteps = 200;  // a mutated session is cut to this
    int blindShare = 25; // percent of sessions drawn blind once the corpus has any
    int audioRouter = 7;
    size_t maxCorpus = 4096;
    // The longest text a mutation makes: the host's limit, or a level's own
    // longest when the run is held to one level (its budget is set for those).
    size_t maxText = maxScriptText;
};

class SessionExplorer {
  public:
    using Lines = std::vector<std::string>;
    using BlindSession = std::function<Lines(int session)>;

    SessionExplorer(const ExploreSettings& settings, const PanelLayout& layout,
                    SearchDictionary dictionary, BlindSession blind);

    // Session `index`'s lines: blind, or a mutation of the corpus as it is now.
    Lines session(int index);
    // What session `lines` showed; true (and kept) when any of it is new.
    bool offer(const Lines& lines, const SessionFeatures& features, bool failed);

    size_t corpusSize() const { return corpus_.size(); }
    size_t behaviours() const { return responses_.size(); }
    size_t blocksSeen() const { return blocks_.size(); }
    size_t mutated() const { return mutated_; }
    // Input-to-state: sessions played with a step's value swapped for what the
    // script compared it with, and how many of those the corpus kept.
    size_t replacementsMade() const { return replacementsMade_; }
    size_t replacementsKept() const { return replacementsKept_; }
    // Whether a replacement is worth playing: a step the panel can take, and
    // not queued before (`tried`: the step up to the operand put in).
    bool worthReplacing(const std::string& line, const std::string& tried) const;
    // Steps that drew an answer never seen before, to put into other sessions.
    const std::vector<std::string>& telling() const { return telling_; }
    const SearchDictionary& dictionary() const { return dictionary_; }

    // Parameter messages pairing each of the library's identifiers with
    // itself alone and with its neighbours ("return" with "all"), played as
    // the first mutated sessions: a dictionary pass, as fuzzers make one.
    const std::vector<std::string>& sweep() const { return sweep_; }

    // The mutations, open for tests: each takes steps (no startup lines).
    Lines mutate(Lines steps, SessionRandom& random);

  private:
    Lines insertFresh(Lines steps, SessionRandom& random);
    Lines eraseRun(Lines steps, SessionRandom& random);
    Lines repeatRun(Lines steps, SessionRandom& random);
    Lines insertTicks(Lines steps, SessionRandom& random);
    Lines splice(Lines steps, SessionRandom& random);
    Lines dictionaryStep(Lines steps, SessionRandom& random);
    Lines insertTelling(Lines steps, SessionRandom& random);
    Lines resizeText(Lines steps, SessionRandom& random);
    Lines swapNumber(Lines steps, SessionRandom& random);
    // Queues the session with each replacement, a replaced step line once a run.
    bool onOwnControl(const std::string& step) const;
    void queueReplacements(const Lines& startup, const Lines& steps,
                           const std::vector<Replacement>& replacements);
    std::string wordStep(SessionRandom& random);
    const std::string& word(SessionRandom& random, bool oneToken);

    ExploreSettings settings_;
    PanelLayout layout_;
    SearchDictionary dictionary_;
    BlindSession blind_;
    std::vector<std::string> sweep_;
    size_t swept_ = 0;
    std::vector<Lines> corpus_;
    std::unordered_set<std::uint64_t> responses_, blocks_;
    std::vector<std::string> telling_;
    std::vector<std::string> numbers_; // numbers the script compared against or sent
    std::unordered_set<std::string> numbersKnown_;
    std::unordered_set<std::string> tellingKnown_;
    size_t mutated_ = 0;
    std::deque<Lines> replacing_;                    // sessions waiting to be played
    std::unordered_set<std::uint64_t> replaced_;     // step lines already queued
    std::unordered_set<std::uint64_t> replacingNow_; // sessions played, not yet offered back
    size_t replacementsMade_ = 0, replacementsKept_ = 0;
};

// Splits a session's lines into its startup lines and its steps.
void splitSession(const std::vector<std::string>& lines, std::vector<std::string>& startup,
                  std::vector<std::string>& steps);

#endif
