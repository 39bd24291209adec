#include "image/png_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <memory>
#include <new>
#include <span>
#include <system_error>
#include <vector>

#include "image/png_deflate_bits.h"
#include "image/png_deflate_crew.h"
#include "image/png_deflate_parser.h"
#include "image/png_deflate_symbols.h"
#include "image/png_deflate_trees.h"

namespace globeforge {

namespace {

using namespace png_detail;

// Memory level 8 ends a block at 2^14 - 1 symbols.
constexpr size_t kBlockSymbols = 16383;
// A piece of the parse, and what each thread parses per round.
constexpr size_t kSegment = size_t{1} << 18;
// The data a round reads past its end: a match begun before the end, and the bytes its
// comparisons read beyond it.
constexpr size_t kReadAhead = 2 * kMaxMatch + 16;
// What the matcher reads past a position near the end (eight bytes at a time).
constexpr size_t kPadding = kMaxMatch + 16;

// How far zlib's window has slid by the loop turn at position s: it slides by 32 KB when
// a turn finds less than kMinLookahead bytes ahead and has passed 64 KB - kMinLookahead in
// the window. A block can be stored only while its data is still in the window.
size_t WindowBase(size_t s, size_t size) {
    size_t slides =
        s >= 2 * kWindow - kMinLookahead + 1 ? (s - (kWindow - kMinLookahead + 1)) / kWindow : 0;
    const size_t next = (slides + 1) * kWindow + kWindow - kMinLookahead;
    if (s == next && size - s < kMinLookahead) ++slides;
    return slides * kWindow;
}

// A run of one parser's symbols in the stream.
struct Piece {
    Parser* parser;
    size_t from, to;
};

// A block to code: its symbols, where its data starts and ends, whether it is the last.
struct Block {
    size_t first = 0, count = 0;
    size_t start = 0, end = 0;
    size_t turn = 0;  // the loop turn that ends it
    bool last = false;
    BitWriter bits;
    bool stored = false;
};

// One zlib stream, made in rounds: each round reads a segment of the data for every
// thread, parses the segments side by side, joins their parses into the true one and codes
// the blocks that the symbols so far fill, side by side.
class Deflater {
  public:
    Deflater(size_t size, const DeflateSource& source, const DeflateSink& sink, int threads,
             const std::atomic<bool>* cancel)
        : size_(size),
          source_(source),
          sink_(sink),
          cancel_(cancel),
          crewSize_(static_cast<size_t>(std::max(threads, 1))),
          crew_(static_cast<int>(crewSize_) - 1) {
        for (size_t i = 0; i < crewSize_; ++i) parsers_.push_back(std::make_unique<Parser>());
        parsers_[0]->Start(size, 0);
        // The data from origin to have: the window behind the round (which the parsers and
        // a stored block may read), the round and what it reads ahead.
        data_.resize(3 * kWindow + crewSize_ * kSegment + kReadAhead + kPadding);
        stream_.Put(0x78, 8);  // deflate, 32 KB window
        stream_.Put(0x9c, 8);  // level 6, check bits
        adler_ = adler32(0L, Z_NULL, 0);
    }

    bool Run() {
        for (size_t roundStart = 0; roundStart < size_;) {
            if (cancel_ && cancel_->load(std::memory_order_relaxed)) return false;
            starts_.clear();
            ends_.clear();
            for (size_t s = roundStart; s < size_ && starts_.size() < crewSize_; s += kSegment) {
                starts_.push_back(s);
                ends_.push_back(std::min(size_, s + kSegment));
            }
            const size_t roundEnd = ends_.back();
            const bool final = roundEnd == size_;
            if (!Read(roundStart, roundEnd) || !Parse()) return false;
            Join(final);
            size_t at = pendingStart_;
            const size_t taken = CutBlocks(final, at);
            if (!CodeBlocks()) return false;
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<ptrdiff_t>(taken));
            pendingStart_ = at;
            roundStart = roundEnd;
            if (roundStart < size_) {
                stream_.Take(bytes_, false);
                if (!bytes_.empty() && !sink_(bytes_.data(), bytes_.size())) return false;
            }
        }
        stream_.Align();
        for (int shift = 24; shift >= 0; shift -= 8) stream_.Put((adler_ >> shift) & 0xff, 8);
        stream_.Take(bytes_, true);
        return sink_(bytes_.data(), bytes_.size());
    }

  private:
    // Brings in the round and what it reads ahead, keeping the window behind it.
    bool Read(size_t roundStart, size_t roundEnd) {
        // Every parser's base lies at most 64 KB behind the round.
        const size_t keep =
            (roundStart > 2 * kWindow ? roundStart - 2 * kWindow : 0) & ~kWindowMask;
        std::copy(data_.begin() + static_cast<ptrdiff_t>(keep - origin_),
                  data_.begin() + static_cast<ptrdiff_t>(have_ - origin_), data_.begin());
        origin_ = keep;
        const size_t want = std::min(size_, roundEnd + kReadAhead);
        std::vector<size_t> cuts;
        for (size_t at = have_; at < want; at += kSegment) cuts.push_back(at);
        cuts.push_back(want);
        const bool read = crew_.Run(cuts.size() - 1, [&](size_t i) {
            source_(cuts[i], cuts[i + 1] - cuts[i], data_.data() + (cuts[i] - origin_));
        });
        if (!read) return false;
        have_ = want;
        // The matcher compares past the end, but a candidate that reaches the end is at
        // least as long as the search asks for (it is cut to the lookahead) and ends it, so
        // what lies there never decides a match.
        if (have_ == size_) {
            std::fill(data_.begin() + static_cast<ptrdiff_t>(have_ - origin_), data_.end(),
                      uint8_t{0});
        }
        for (auto& parser : parsers_) parser->Rebase(data_.data(), origin_);
        return true;
    }

    // Parses each segment of the round afresh, and adds its checksum.
    bool Parse() {
        std::vector<uLong> sums(starts_.size());
        const bool parsed = crew_.Run(starts_.size(), [&](size_t i) {
            const Bytef* from = data_.data() + (starts_[i] - origin_);
            sums[i] = adler32(1L, from, static_cast<uInt>(ends_[i] - starts_[i]));
            if (i > 0) parsers_[i]->Start(size_, starts_[i]);
            parsers_[i]->ParseTo(ends_[i]);
        });
        if (!parsed) return false;
        for (size_t i = 0; i < starts_.size(); ++i) {
            adler_ = adler32_combine(adler_, sums[i], static_cast<z_off_t>(ends_[i] - starts_[i]));
        }
        return true;
    }

    // Each piece joins the true parse where, right after a match, both stand at the same
    // position; until then the parse that is true goes on alone. The joined symbols go to
    // the pending ones, and the parser that ends the round carries on in the next.
    void Join(bool final) {
        std::vector<Piece> pieces;
        size_t current = 0, from = 0;
        for (size_t i = 1; i < starts_.size(); ++i) {
            Parser& carrier = *parsers_[current];
            std::vector<uint32_t>& theirs = parsers_[i]->Symbols();
            size_t index = 0, at = starts_[i];
            bool joined = false;
            for (;;) {
                if (carrier.Settled() && carrier.Position() >= starts_[i]) {
                    while (at < carrier.Position() && index < theirs.size()) {
                        at += Covered(theirs[index++]);
                    }
                    const bool settled = index == 0 || DistanceOf(theirs[index - 1]) != 0;
                    if (at == carrier.Position() && settled && index < theirs.size()) {
                        joined = true;
                        break;
                    }
                }
                if (carrier.Position() >= ends_[i]) break;
                carrier.Step();
            }
            if (joined) {
                pieces.push_back({&carrier, from, carrier.Symbols().size()});
                current = i;
                from = index;
            }
        }
        pieces.push_back({parsers_[current].get(), from, parsers_[current]->Symbols().size()});
        if (final) {
            finalLiteral_ = parsers_[current]->Finish();
            pieces.back().to = parsers_[current]->Symbols().size();
        }
        for (const Piece& piece : pieces) {
            const std::vector<uint32_t>& s = piece.parser->Symbols();
            pending_.insert(pending_.end(), s.begin() + static_cast<ptrdiff_t>(piece.from),
                            s.begin() + static_cast<ptrdiff_t>(piece.to));
        }
        std::swap(parsers_[0], parsers_[current]);
        parsers_[0]->Symbols().clear();
    }

    // The blocks: every kBlockSymbols symbols, except that the byte held back at the end
    // is added without a check, and the rest is the last block. Returns the symbols taken;
    // at moves from the position of the first to the end of the last.
    size_t CutBlocks(bool final, size_t& at) {
        blocks_.clear();
        size_t taken = 0;
        for (;;) {
            const size_t left = pending_.size() - taken;
            Block b;
            b.first = taken;
            b.start = at;
            if (left >= kBlockSymbols) {
                b.count = kBlockSymbols;
                b.last = final && finalLiteral_ && left == kBlockSymbols;
            } else if (final) {
                b.count = left;
                b.last = true;
            } else {
                break;
            }
            size_t lastCovered = 0;
            for (size_t k = taken; k < taken + b.count; ++k) {
                lastCovered = Covered(pending_[k]);
                at += lastCovered;
            }
            b.end = at;
            b.turn = b.last ? size_ : at - lastCovered + 1;
            taken += b.count;
            blocks_.push_back(std::move(b));
            if (blocks_.back().last) break;
        }
        return taken;
    }

    // Codes the blocks side by side and puts them in the stream in order.
    bool CodeBlocks() {
        const bool coded = crew_.Run(blocks_.size(), [&](size_t k) {
            Block& b = blocks_[k];
            // A storable block's data lies within the window kept behind the round.
            const bool storable = b.start >= WindowBase(b.turn, size_);
            thread_local BlockCoder coder;
            b.stored = !coder.Code(std::span(pending_).subspan(b.first, b.count), b.last,
                                   b.end - b.start, storable, b.bits);
        });
        if (!coded) return false;
        for (Block& b : blocks_) {
            if (b.stored) {
                const size_t n = b.end - b.start;
                stream_.Put(b.last ? 1u : 0u, 3);
                stream_.Align();
                stream_.Put(n & 0xffff, 16);
                stream_.Put(~n & 0xffff, 16);
                stream_.PutBytes(data_.data() + (b.start - origin_), n);
            } else {
                stream_.Append(b.bits);
            }
        }
        return true;
    }

    const size_t size_;
    const DeflateSource& source_;
    const DeflateSink& sink_;
    const std::atomic<bool>* cancel_;
    const size_t crewSize_;
    Crew crew_;
    std::vector<std::unique_ptr<Parser>> parsers_;
    std::vector<uint8_t> data_;
    size_t origin_ = 0, have_ = 0;
    std::vector<size_t> starts_, ends_;  // the segments of the round
    BitWriter stream_;
    std::vector<uint8_t> bytes_;
    uLong adler_ = 0;
    std::vector<uint32_t> pending_;  // symbols not yet in a block
    size_t pendingStart_ = 0;        // the position of pending_[0]
    std::vector<Block> blocks_;
    bool finalLiteral_ = false;
};

}  // namespace

bool DeflateLikeLibpng(size_t size, const DeflateSource& source, const DeflateSink& sink,
                       int threads, const std::atomic<bool>* cancel) {
    if (size == 0 || size > (size_t{1} << 31)) return false;
    try {
        return Deflater(size, source, sink, threads, cancel).Run();
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace globeforge
