// The texts of the boxes in the user's language. The build packs the texts
// of every language (src/app/lang/*.txt) with cmake/packtexts.py: each ended
// by a NUL, in the order of TextId, language after language in the order of
// the languages below. Packed, the fourteen languages take 9.7 KB of their
// 35 KB; a language is unpacked when its first text is asked for,
// with those before it (English, the first, costs nothing to reach).
//
// The packing is a bitwise context mixer: each bit of a byte is predicted
// from the bits before it in the byte and the last 0 to 4 bytes, each of the
// five predictions from a table slot that learns as it goes, and from the
// text that last followed the same 4 bytes (the match), mixed by weights
// that learn too; an arithmetic coder takes the bit at that probability.
// Every step is the packer's, in the same integer arithmetic.
#include "zarnouns.h"

enum {
    LanguageGerman = 1, LanguageFrench, LanguageSpanish, LanguageItalian, LanguagePortuguese,
    LanguageRussian, LanguagePolish, LanguageCzech, LanguageTurkish, LanguageJapanese,
    LanguageKorean, LanguageChineseSimplified, LanguageChineseTraditional
};

// Made by the build: the end of each language's texts in UnpackedTexts.
extern const unsigned PackedLanguages, PackedTextCount, PackedSize;
extern const unsigned UnpackedEnds[];
extern const unsigned char PackedTexts[];
extern char UnpackedTexts[];

enum { Orders = 5, TableBits = 19, CountLimit = 20, LearningRate = 2, FirstWeight = 16000 };
enum { Inputs = Orders + 1, MatchBits = 16, MatchRate = 3000 };

// A slot's probability of a 1 in 1/65536, stored less one half, so that
// every slot starts at one half without being written.
static unsigned short Probability[Orders][1 << TableBits];
static unsigned char Seen[Orders][1 << TableBits];
// Mixing weights of the orders and the match for each partial byte, in
// 1/65536, stored less FirstWeight.
static int Weights[256][Inputs];
// The match: where the last 4 bytes were seen before (the offset after them,
// 0 for never), and how sure a match of each length (up to 31) is of its
// next bit, stored less one half.
static unsigned LastSeen[1 << MatchBits];
static unsigned short MatchProbability[32][2];
static unsigned Match, MatchLength;
static short Stretch[4096];  // ln(p / (1 - p)) of a 12-bit p, in 1/256
static unsigned Low, High, Code, Read, History, Unpacked;

// The logistic function 4096 / (1 + e^-(d / 256)), interpolated.
static int Squash(int d) {
    static const short Points[33] = {1,    2,    3,    6,    10,   16,   27,   45,   73,
                                     120,  194,  310,  488,  747,  1101, 1546, 2047, 2549,
                                     2994, 3348, 3607, 3785, 3901, 3975, 4024, 4050, 4068,
                                     4079, 4085, 4089, 4092, 4093, 4094};
    if (d > 2047) return 4095;
    if (d < -2047) return 1;
    int w = d & 127, i = (d >> 7) + 16;
    return (Points[i] * (128 - w) + Points[i + 1] * w + 64) >> 7;
}

// Past its end the packed text reads as 0xFF, as the packer's flush expects.
static unsigned NextPackedByte(void) { return Read < PackedSize ? PackedTexts[Read++] : 255; }

static void StartUnpacking(void) {
    int low = 0;
    for (int x = -2047; x <= 2047; x++) {
        int v = Squash(x);
        for (int j = low; j <= v; j++) Stretch[j] = (short)x;
        low = v + 1;
    }
    for (int j = low; j < 4096; j++) Stretch[j] = 2047;
    High = 0xFFFFFFFFu;
    for (int i = 0; i < 4; i++) Code = Code << 8 | NextPackedByte();
}

static unsigned OrderHash(int order) {
    unsigned h = order < 4 ? History & ((1u << 8 * order) - 1) : History;
    return h * 0x9E3779B1u + (unsigned)order * 0x632BE5ABu;
}

// A probability stored less one half, moved toward the bit by `rate`/65536.
static unsigned short Learn(unsigned short stored, int bit, int rate) {
    int old = stored ^ 0x8000;
    long long step = (long long)((bit ? 65535 : 0) - old) * rate >> 16;
    return (unsigned short)((old + (int)step) ^ 0x8000);
}

// The byte at `offset` of UnpackedTexts, the ones before it unpacked.
static int UnpackByte(unsigned offset) {
    unsigned hashes[Orders];
    for (int k = 0; k < Orders; k++) hashes[k] = OrderHash(k);
    if (offset >= 4) {
        unsigned* seen = &LastSeen[History * 0x9E3779B1u >> (32 - MatchBits)];
        if (MatchLength == 0 && *seen != 0) Match = *seen, MatchLength = 1;
        *seen = offset;
    }
    int expected = MatchLength ? (unsigned char)UnpackedTexts[Match] : 0, guess = 0;
    unsigned short* confidence = NULL;
    unsigned partial = 1;
    for (int b = 7; b >= 0; b--) {
        unsigned slots[Orders];
        int inputs[Inputs];
        long long dot = 0;
        for (int k = 0; k < Orders; k++) {
            slots[k] = (hashes[k] + partial * 0x2F0B4A23u) >> (32 - TableBits);
            inputs[k] = Stretch[(Probability[k][slots[k]] ^ 0x8000) >> 4];
        }
        inputs[Orders] = 0;
        if (MatchLength) {
            guess = expected >> b & 1;
            confidence = &MatchProbability[MatchLength < 31 ? MatchLength : 31][guess];
            inputs[Orders] = Stretch[(*confidence ^ 0x8000) >> 4];
        }
        for (int k = 0; k < Inputs; k++)
            dot += (long long)inputs[k] * (Weights[partial][k] + FirstWeight);
        int p = Squash((int)(dot >> 16));
        if (p < 1) p = 1;
        if (p > 4095) p = 4095;
        unsigned middle = Low + ((High - Low) >> 12) * (unsigned)p;
        int bit = Code <= middle;
        if (bit)
            High = middle;
        else
            Low = middle + 1;
        while (((Low ^ High) & 0xFF000000u) == 0) {
            Low <<= 8;
            High = High << 8 | 255;
            Code = Code << 8 | NextPackedByte();
        }
        int error = (bit << 12) - p;
        for (int k = 0; k < Inputs; k++) Weights[partial][k] += (inputs[k] * error * LearningRate) >> 10;
        if (MatchLength) {
            *confidence = Learn(*confidence, bit, MatchRate);
            if (bit != guess) MatchLength = 0;
        }
        for (int k = 0; k < Orders; k++) {
            unsigned short* slot = &Probability[k][slots[k]];
            int n = Seen[k][slots[k]];
            *slot = Learn(*slot, bit, 131072 / (2 * n + 3));
            if (n < CountLimit) Seen[k][slots[k]] = (unsigned char)(n + 1);
        }
        partial = partial << 1 | (unsigned)bit;
    }
    if (MatchLength) Match++, MatchLength++;
    History = History << 8 | (partial & 255);
    return (int)(partial & 255);
}

const char* LanguageText(int language, int id) {
    if (id < 0 || id >= TextCount || (unsigned)TextCount != PackedTextCount) return "";
    if (language < 0 || (unsigned)language >= PackedLanguages) language = LanguageEnglish;
    if (Unpacked == 0) StartUnpacking();
    for (; Unpacked < UnpackedEnds[language]; Unpacked++) UnpackedTexts[Unpacked] = (char)UnpackByte(Unpacked);
    const char* text = UnpackedTexts + (language > 0 ? UnpackedEnds[language - 1] : 0);
    for (int i = 0; i < id; i++) text += strlen(text) + 1;
    return text[0] != '\0' || language == LanguageEnglish ? text : LanguageText(LanguageEnglish, id);
}

int BoxLanguage(LANGID language) {
    // Windows' primary language numbers, each at its language's index.
    static const unsigned char Primary[LanguageCount] = {
        0x09, 0x07, 0x0C, 0x0A, 0x10, 0x16, 0x19, 0x15, 0x05, 0x1F, 0x11, 0x12, 0x04, 0x04};
    unsigned primary = language & 0x3FF, region = language >> 10;
    for (int i = 0; i < LanguageCount; i++) {
        if (Primary[i] != primary) continue;
        if (i != LanguageChineseSimplified) return i;
        // Taiwan, Hong Kong, Macao and the script itself write Traditional.
        return region == 1 || region == 3 || region == 5 || region == 0x1F
                   ? LanguageChineseTraditional
                   : LanguageChineseSimplified;
    }
    return LanguageEnglish;
}

const char* Text(int id) {
    static int chosen = -1;
    if (chosen < 0) chosen = SilentMode ? LanguageEnglish : BoxLanguage(GetUserDefaultUILanguage());
    return LanguageText(chosen, id);
}
