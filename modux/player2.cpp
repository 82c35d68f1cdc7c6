// Protracker effects and pitch tables.
// Notes become periods and periods become voice frequencies in the three pitch systems
// (frequency, XM Amiga, XM linear); the voice volume and pan of a channel; the set-up and the
// per-tick work of the Protracker commands 0 to 15 and of their extended sub-commands; the IT
// family's pitch (linear units or Amiga periods) and its vibrato waves.
// Everything here runs inside mod_interrupt, no allocation; only the IT family's pitch uses
// floating point.

#include "modux_internal.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

// ---------------------------------------------------------------------------------------------
// Tables
// ---------------------------------------------------------------------------------------------

// Frequency of each linear period within the top octave: floor(8363 * 2^(6 - i / 768)),
// computed once with 60-digit arithmetic; lower octaves shift it right.
static const uint32_t lintab[768] = {
    535232, 534749, 534266, 533784, 533303, 532822, 532341, 531861, 531381, 530902, 530423, 529944,
    529466, 528988, 528511, 528034, 527558, 527082, 526607, 526131, 525657, 525183, 524709, 524236,
    523763, 523290, 522818, 522346, 521875, 521404, 520934, 520464, 519994, 519525, 519057, 518588,
    518121, 517653, 517186, 516720, 516253, 515788, 515322, 514858, 514393, 513929, 513465, 513002,
    512539, 512077, 511615, 511154, 510692, 510232, 509771, 509312, 508852, 508393, 507934, 507476,
    507018, 506561, 506104, 505647, 505191, 504735, 504280, 503825, 503371, 502917, 502463, 502010,
    501557, 501104, 500652, 500201, 499749, 499298, 498848, 498398, 497948, 497499, 497050, 496602,
    496154, 495706, 495259, 494812, 494366, 493920, 493474, 493029, 492585, 492140, 491696, 491253,
    490809, 490367, 489924, 489482, 489041, 488600, 488159, 487718, 487278, 486839, 486400, 485961,
    485522, 485084, 484647, 484210, 483773, 483336, 482900, 482465, 482029, 481595, 481160, 480726,
    480292, 479859, 479426, 478994, 478562, 478130, 477699, 477268, 476837, 476407, 475977, 475548,
    475119, 474690, 474262, 473834, 473407, 472979, 472553, 472126, 471701, 471275, 470850, 470425,
    470001, 469577, 469153, 468730, 468307, 467884, 467462, 467041, 466619, 466198, 465778, 465358,
    464938, 464518, 464099, 463681, 463262, 462844, 462427, 462010, 461593, 461177, 460760, 460345,
    459930, 459515, 459100, 458686, 458272, 457859, 457446, 457033, 456621, 456209, 455797, 455386,
    454975, 454565, 454155, 453745, 453336, 452927, 452518, 452110, 451702, 451294, 450887, 450481,
    450074, 449668, 449262, 448857, 448452, 448048, 447644, 447240, 446836, 446433, 446030, 445628,
    445226, 444824, 444423, 444022, 443622, 443221, 442821, 442422, 442023, 441624, 441226, 440828,
    440430, 440033, 439636, 439239, 438843, 438447, 438051, 437656, 437261, 436867, 436473, 436079,
    435686, 435293, 434900, 434508, 434116, 433724, 433333, 432942, 432551, 432161, 431771, 431382,
    430992, 430604, 430215, 429827, 429439, 429052, 428665, 428278, 427892, 427506, 427120, 426735,
    426350, 425965, 425581, 425197, 424813, 424430, 424047, 423665, 423283, 422901, 422519, 422138,
    421757, 421377, 420997, 420617, 420237, 419858, 419479, 419101, 418723, 418345, 417968, 417591,
    417214, 416838, 416462, 416086, 415711, 415336, 414961, 414586, 414212, 413839, 413465, 413092,
    412720, 412347, 411975, 411604, 411232, 410862, 410491, 410121, 409751, 409381, 409012, 408643,
    408274, 407906, 407538, 407170, 406803, 406436, 406069, 405703, 405337, 404971, 404606, 404241,
    403876, 403512, 403148, 402784, 402421, 402058, 401695, 401333, 400970, 400609, 400247, 399886,
    399525, 399165, 398805, 398445, 398086, 397727, 397368, 397009, 396651, 396293, 395936, 395579,
    395222, 394865, 394509, 394153, 393798, 393442, 393087, 392733, 392378, 392024, 391671, 391317,
    390964, 390612, 390259, 389907, 389556, 389204, 388853, 388502, 388152, 387802, 387452, 387102,
    386753, 386404, 386056, 385707, 385359, 385012, 384664, 384317, 383971, 383624, 383278, 382932,
    382587, 382242, 381897, 381552, 381208, 380864, 380521, 380177, 379834, 379492, 379149, 378807,
    378466, 378124, 377783, 377442, 377102, 376762, 376422, 376082, 375743, 375404, 375065, 374727,
    374389, 374051, 373714, 373377, 373040, 372703, 372367, 372031, 371695, 371360, 371025, 370690,
    370356, 370022, 369688, 369355, 369021, 368688, 368356, 368023, 367691, 367360, 367028, 366697,
    366366, 366036, 365706, 365376, 365046, 364717, 364388, 364059, 363731, 363403, 363075, 362747,
    362420, 362093, 361766, 361440, 361114, 360788, 360463, 360137, 359813, 359488, 359164, 358840,
    358516, 358193, 357869, 357547, 357224, 356902, 356580, 356258, 355937, 355616, 355295, 354974,
    354654, 354334, 354014, 353695, 353376, 353057, 352739, 352420, 352103, 351785, 351468, 351150,
    350834, 350517, 350201, 349885, 349569, 349254, 348939, 348624, 348310, 347995, 347682, 347368,
    347055, 346741, 346429, 346116, 345804, 345492, 345180, 344869, 344558, 344247, 343936, 343626,
    343316, 343006, 342697, 342388, 342079, 341770, 341462, 341154, 340846, 340539, 340231, 339924,
    339618, 339311, 339005, 338700, 338394, 338089, 337784, 337479, 337175, 336870, 336566, 336263,
    335959, 335656, 335354, 335051, 334749, 334447, 334145, 333844, 333542, 333242, 332941, 332641,
    332341, 332041, 331741, 331442, 331143, 330844, 330546, 330247, 329950, 329652, 329355, 329057,
    328761, 328464, 328168, 327872, 327576, 327280, 326985, 326690, 326395, 326101, 325807, 325513,
    325219, 324926, 324633, 324340, 324047, 323755, 323463, 323171, 322879, 322588, 322297, 322006,
    321716, 321426, 321136, 320846, 320557, 320267, 319978, 319690, 319401, 319113, 318825, 318538,
    318250, 317963, 317676, 317390, 317103, 316817, 316532, 316246, 315961, 315676, 315391, 315106,
    314822, 314538, 314254, 313971, 313688, 313405, 313122, 312839, 312557, 312275, 311994, 311712,
    311431, 311150, 310869, 310589, 310309, 310029, 309749, 309470, 309190, 308911, 308633, 308354,
    308076, 307798, 307521, 307243, 306966, 306689, 306412, 306136, 305860, 305584, 305308, 305033,
    304758, 304483, 304208, 303934, 303659, 303385, 303112, 302838, 302565, 302292, 302019, 301747,
    301475, 301203, 300931, 300660, 300388, 300117, 299847, 299576, 299306, 299036, 298766, 298497,
    298227, 297958, 297689, 297421, 297153, 296884, 296617, 296349, 296082, 295815, 295548, 295281,
    295015, 294749, 294483, 294217, 293952, 293686, 293421, 293157, 292892, 292628, 292364, 292100,
    291837, 291574, 291311, 291048, 290785, 290523, 290261, 289999, 289737, 289476, 289215, 288954,
    288693, 288433, 288173, 287913, 287653, 287393, 287134, 286875, 286616, 286358, 286099, 285841,
    285583, 285326, 285068, 284811, 284554, 284298, 284041, 283785, 283529, 283273, 283017, 282762,
    282507, 282252, 281998, 281743, 281489, 281235, 280981, 280728, 280475, 280222, 279969, 279716,
    279464, 279212, 278960, 278708, 278457, 278206, 277955, 277704, 277453, 277203, 276953, 276703,
    276453, 276204, 275955, 275706, 275457, 275209, 274960, 274712, 274465, 274217, 273970, 273722,
    273476, 273229, 272982, 272736, 272490, 272244, 271999, 271753, 271508, 271263, 271018, 270774,
    270530, 270286, 270042, 269798, 269555, 269312, 269069, 268826, 268583, 268341, 268099, 267857,
};

// Amiga periods x 32 at eighth-semitone steps, from the B below middle C (907) to an eighth
// below the B above it (431). Entry s * 8 + k is semitone s (0 = C) detuned by k - 8 eighths.
static const uint16_t logtab[104] = {
    907 * 32, 900 * 32, 894 * 32, 887 * 32, 881 * 32, 875 * 32, 868 * 32, 862 * 32, 856 * 32,
    850 * 32, 844 * 32, 838 * 32, 832 * 32, 826 * 32, 820 * 32, 814 * 32, 808 * 32, 802 * 32,
    796 * 32, 791 * 32, 785 * 32, 779 * 32, 774 * 32, 768 * 32, 762 * 32, 757 * 32, 752 * 32,
    746 * 32, 741 * 32, 736 * 32, 730 * 32, 725 * 32, 720 * 32, 715 * 32, 709 * 32, 704 * 32,
    699 * 32, 694 * 32, 689 * 32, 684 * 32, 678 * 32, 675 * 32, 670 * 32, 665 * 32, 660 * 32,
    655 * 32, 651 * 32, 646 * 32, 640 * 32, 636 * 32, 632 * 32, 628 * 32, 623 * 32, 619 * 32,
    614 * 32, 610 * 32, 604 * 32, 601 * 32, 597 * 32, 592 * 32, 588 * 32, 584 * 32, 580 * 32,
    575 * 32, 570 * 32, 567 * 32, 563 * 32, 559 * 32, 555 * 32, 551 * 32, 547 * 32, 543 * 32,
    538 * 32, 535 * 32, 532 * 32, 528 * 32, 524 * 32, 520 * 32, 516 * 32, 513 * 32, 508 * 32,
    505 * 32, 502 * 32, 498 * 32, 494 * 32, 491 * 32, 487 * 32, 484 * 32, 480 * 32, 477 * 32,
    474 * 32, 470 * 32, 467 * 32, 463 * 32, 460 * 32, 457 * 32, 453 * 32, 450 * 32, 447 * 32,
    443 * 32, 440 * 32, 437 * 32, 434 * 32, 431 * 32,
};

// Periods of the lowest octave, C to B, in quarter Amiga units (middle C at 8363 Hz is 1712,
// two octaves up); each higher octave halves them. The S3M importer reads it too.
extern const int noteperiod[12] = {
    6848, 6464, 6096, 5760, 5424, 5120, 4832, 4560, 4304, 4064, 3840, 3628,
};

// Positive half of a sine wave of amplitude 255, for vibrato and tremolo.
static const int vib_table[32] = {
    0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212, 224, 235, 244, 250, 253,
    255, 253, 250, 244, 235, 224, 212, 197, 180, 161, 141, 120, 97,  74,  49,  24,
};

int vib_sine_half(int step) {
  // 128 steps of half a cycle, read from the table's 32 with a linear step between entries.
  const int i = (step >> 2) & 31;
  const int next = i == 31 ? 0 : vib_table[i + 1];
  return vib_table[i] + (next - vib_table[i]) * (step & 3) / 4;
}

// Middle-C rate of each MOD finetune nibble (8 to 15 are -8 to -1); the MOD importer stores the
// entry as the sample's tuning, so playback never reads it.
extern const int mod_finetune[16] = {
    8363, 8413, 8463, 8529, 8581, 8651, 8723, 8757, 7895, 7941, 7985, 8046, 8107, 8169, 8232, 8280,
};

// ProTracker's periods of its first octave, C-1 to B-1, for each finetune nibble (8 to 15 are -8
// to -1); its second and third octaves are these halved and quartered.
static const int16_t protracker_octave[16][12] = {
    {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453},
    {850, 802, 757, 715, 674, 637, 601, 567, 535, 505, 477, 450},
    {844, 796, 752, 709, 670, 632, 597, 563, 532, 502, 474, 447},
    {838, 791, 746, 704, 665, 628, 592, 559, 528, 498, 470, 444},
    {832, 785, 741, 699, 660, 623, 588, 555, 524, 495, 467, 441},
    {826, 779, 736, 694, 655, 619, 584, 551, 520, 491, 463, 437},
    {820, 774, 730, 689, 651, 614, 580, 547, 516, 487, 460, 434},
    {814, 768, 725, 684, 646, 610, 575, 543, 513, 484, 457, 431},
    {907, 856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480},
    {900, 850, 802, 757, 715, 675, 636, 601, 567, 535, 505, 477},
    {894, 844, 796, 752, 709, 670, 632, 597, 563, 532, 502, 474},
    {887, 838, 791, 746, 704, 665, 628, 592, 559, 528, 498, 470},
    {881, 832, 785, 741, 699, 660, 623, 588, 555, 524, 494, 467},
    {875, 826, 779, 736, 694, 655, 619, 584, 551, 520, 491, 463},
    {868, 820, 774, 730, 689, 651, 614, 580, 547, 516, 487, 460},
    {862, 814, 768, 725, 684, 646, 610, 575, 543, 513, 484, 457},
};

// The periods a MOD writes for ProTracker's 36 notes, C-1 to B-3.
static const int16_t protracker_notes[36] = {
    856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,  //
    428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,  //
    214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113,
};

// The finetune nibble of a MOD sample's tuning (mod_finetune), -1 for another rate.
static int protracker_finetune(int tuning) {
  for (int f = 0; f < 16; f++)
    if (mod_finetune[f] == tuning) return f;
  return -1;
}

void protracker_range(int tuning, int &highest, int &lowest) {
  const int f = protracker_finetune(tuning);
  if (f < 0) return;
  highest = protracker_octave[f][11] > highest ? protracker_octave[f][11] : highest;
  lowest = protracker_octave[f][0] * 4;
}

// A semitone in the IT family's linear pitch units.
static const int UNITS_PER_NOTE = 64;

// Highest note number of the XM modes, counted from 0.
static const int XM_TOP_NOTE = 118;

// Arpeggio searches stop after this many semitones: thirteen octaves cover every period the
// tables can give, and the search must end even for a period no table note lies below.
static const int SEMITONE_SEARCH_LIMIT = 13 * 12 + 16;

// logtab continued one octave up: the Amiga table's last note with the finest tuning pairs with
// the entry past the end, which is the C of the next octave (half the period of entry 8).
static int logtab_entry(int index) { return index < 104 ? logtab[index] : logtab[index - 96] >> 1; }

// Period of semitone k counted from the lowest C in frequency mode; 0 from the 13th octave on.
static int table_period(int k) {
  int octave = k / 12;
  return octave >= 16 ? 0 : noteperiod[k % 12] >> octave;
}

// Private noise source for the random waveform. The C library's rand() takes a lock and would
// also shift the game's replayable random sequence, so the tick keeps its own.
static int noise_0_254(modux_player *p) {
  if (p->noise == 0) p->noise = 0x2545F491u;
  p->noise ^= p->noise << 13;
  p->noise ^= p->noise >> 17;
  p->noise ^= p->noise << 5;
  return static_cast<int>(p->noise % 255);
}

// ---------------------------------------------------------------------------------------------
// Pitch, volume and pan conversions
// ---------------------------------------------------------------------------------------------

int note2period(modux_player *p, int note, int rate) {
  const int flags = p->mi.flags;
  if (flags & MODUX_LINEAR) {
    note = clamp_int(note, 0, XM_TOP_NOTE);
    if (mod_rule(p, RULE_FT2_EXACT)) rate &= ~7;
    return 7680 - rate / 2 - note * 64 + 64;
  }
  if (flags & MODUX_AMIGA) {
    note = clamp_int(note, 0, XM_TOP_NOTE);
    // An XM tuning is finetune + 128; anything else would index outside logtab.
    rate = clamp_int(rate, 0, 255);
    const int octave = note / 12;
    const int index = (note % 12) * 8 + (rate >> 4);
    const int a = logtab_entry(index);
    const int b = logtab_entry(index + 1);
    // The table has a period every 16 finetune steps; the low four bits go between two.
    return (a + (rate & 15) * (b - a) / 16) >> octave;
  }
  // ProTracker's notes of a finetuned sample play its table's periods (quarter units).
  const int finetune = mod_rule(p, RULE_PROTRACKER_CHANNEL) ? protracker_finetune(rate) : -1;
  if (finetune > 0 && note > 0) {
    const int written = (MODUX_AMIGA_CLOCK + note / 2) / note;
    for (int k = 0; k < 36; k++)
      if (protracker_notes[k] == written)
        return (protracker_octave[finetune][k % 12] * 4) >> (k / 12);
  }
  if (rate == 0) rate = 4242;
  // Formed in 64 bits: a note frequency above about 250000 overflows 32. A quotient below 1
  // (rates under about 16 Hz) would divide by zero; such a note plays at the lowest pitch.
  long long divisor = static_cast<long long>(note) * rate / 8363;
  if (divisor < 1) divisor = 1;
  return clamp_int(14318184 / divisor, 1, 14318184);
}

// FT2's linear pitch as the reference plays it: a period kept in 16 bits; from octave 13 down
// the sample stands still; from 19 octaves and a third on (14848) the octave shift wraps
// round, counted from a third of an octave above each octave's start: the pitch plays 21
// octaves higher, and again every 32 octaves further down, so a long slide down sweeps from
// the top again and again.
static int ft2_linear_pitch(int period) {
  const int STILL = 13 * 768, FIRST_WRAP = 14848, OCTAVES_UP = 21, WRAP_OCTAVES = 32;
  period &= 0xFFFF;
  const uint32_t f = lintab[period % 768];
  if (period < STILL) return static_cast<int>(f >> (period / 768));
  if (period < FIRST_WRAP) return 0;
  const int octave = (period - 256) / 768;
  const int shift = octave - OCTAVES_UP - WRAP_OCTAVES * ((octave - 19) / WRAP_OCTAVES);
  return static_cast<int>(shift >= 0 ? f >> shift : f << -shift);
}

int period2pitch(modux_player *p, int period) {
  if (period <= 0) return 0;
  const MODUX *mod = p->of;
  const int flags = mod ? mod->flags : static_cast<int>(p->mi.flags);
  if ((flags & MODUX_XM) && (flags & MODUX_LINEAR)) {
    if (mod_rule(p, RULE_FT2_TICK_COUNTS)) return ft2_linear_pitch(period);
    const int octave = period / 768;
    return octave >= 32 ? 0 : static_cast<int>(lintab[period % 768] >> octave);
  }
  if ((flags & MODUX_XM) && (flags & MODUX_AMIGA)) return 14317456 / period;  // 1712 * 8363
  // Periods are in quarter Amiga units: four times the Amiga's clock over the period.
  if (mod_rule(p, RULE_PAL_CLOCK)) return 14187580 / period;
  return 14318184 / period;
}

int calc_volume(modux_player *p, int chn) {
  const CHANNEL_STATE &c = p->ci[chn];
  // 64-bit and clamped: a damaged module can bring a global volume far outside 0..64.
  const long long v =
      (static_cast<long long>(c.tick_volume) * p->mi.global_volume * c.sounding.fade) >> 19;
  const long long out = (v * (static_cast<long long>(p->volume) * c.sounding.vol_env.output)) >> 14;
  return clamp_int(out, 0, 255);
}

int calc_pan(modux_player *p, int chn) {
  const CHANNEL_STATE &c = p->ci[chn];
  const int e = c.sounding.pan_env.output - 32;
  const int tp = c.tick_pan;
  const int pan = tp < 128 ? tp + (tp * e) / 32 : tp + ((256 - tp) * e) / 32;
  return clamp_int(pan, 0, 255);
}

// ---------------------------------------------------------------------------------------------
// Module look-ups
// ---------------------------------------------------------------------------------------------

NOTE_INFO *get_note(MODUX *mod, int pattern, int row, int channel) {
  // The answer for a cell the module lacks (a missing pattern, a row or channel outside it):
  // an empty cell, so a damaged order list plays silence instead of reading outside the model.
  // Callers only read it.
  static NOTE_INFO empty_cell;
  if (!mod || !mod->patterns || pattern < 0 || pattern >= mod->pattern_count) return &empty_cell;
  PATTERN_INFO &pat = mod->patterns[pattern];
  if (!pat.notes || row < 0 || row >= pat.row_count || channel < 0 || channel >= mod->channel_count)
    return &empty_cell;
  return &pat.notes[static_cast<long>(row) * mod->channel_count + channel];
}

int get_modux_sample_no(modux_player *p, int instrument, int note) {
  if (!(p->mi.flags & MODUX_XM)) return instrument;
  const MODUX *mod = p->of;
  if (!mod) return -1;
  const int last = mod->sample_count - 1;
  if (note < 0 || note >= MODUX_NOTE_MAP || !mod->instruments || instrument < 0 ||
      instrument >= mod->instrument_count)
    return last;
  const int s = mod->instruments[instrument].sample_map[note];
  return s < 0 || s > last ? last : s;
}

int interpolate(int x, int x1, int x2, int y1, int y2) {
  if (x1 == x2) return y1;
  return static_cast<int>(y1 + static_cast<long long>(x - x1) * (y2 - y1) / (x2 - x1));
}

int find_lower_period(modux_player *p, int period, int semitones) {
  int c = period;
  int k = 0;
  if (p->mi.flags & MODUX_XM) {
    // No table note lies above a period at or beyond note 118: the note stays as it is.
    do {
      if (++k > XM_TOP_NOTE) return period;
      if (note2period(p, k, 0) <= period) {
        k += semitones;
        c = note2period(p, k, 0);
      }
    } while (c >= period);
    return c;
  }
  // A period of 0 or below (a long slide up) has no table note at or above its pitch.
  if (period <= 0) return period;
  do {
    if (k > SEMITONE_SEARCH_LIMIT) return period;
    if (table_period(k) <= period) {
      k += semitones;
      c = table_period(k);
    }
    k += 1;
  } while (c >= period);
  return c;
}

// Sample record of a cell's sample index, or null for none or a number the module lacks
// (damaged MOD files carry sample numbers up to 255).
static const SAMPLE_INFO *sample_record(modux_player *p, int sample) {
  const MODUX *mod = p->of;
  if (!mod || !mod->sample_info || sample < 0 || sample >= mod->sample_count) return nullptr;
  return &mod->sample_info[sample];
}

// ---------------------------------------------------------------------------------------------
// Row set-up (tick 0)
// ---------------------------------------------------------------------------------------------

void parse_old_note(modux_player *p, int chn, int note, int sample) {
  CHANNEL_STATE &c = p->ci[chn];
  const SAMPLE_INFO *info = sample_record(p, sample);
  if (note >= 1) {
    if (info) {
      c.sounding.sample = sample;
      c.volume = info->volume;
      c.tuning = info->tuning;
    }
    c.period = note2period(p, note, c.tuning);
    hold_to_pitch_limits(p, c);  // a note beyond the tracker's range starts at its limit
    c.start_voice = -1;
    c.cut_stopped = 0;
    // ST3 starts a note without a sample number where the last Oxx started one; a sample
    // number starts it from the beginning.
    if (mod_rule(p, RULE_ST3_CHANNEL)) {
      if (info) c.note_offset = 0;
      if (!info && c.note_offset > 0) {
        c.set_offset = -1;
        c.sample_offset = c.note_offset;
      }
    }
  } else if (info) {
    if (mod_rule(p, RULE_ST3_CHANNEL)) c.note_offset = 0;
    // A new sample alone restarts at the pitch already playing; ProTracker swaps it in where
    // the playing sample reaches its loop's end.
    if (sample != c.sounding.sample && c.period > 0) {
      if (mod_rule(p, RULE_PROTRACKER_CHANNEL))
        c.swap_sample = -1;
      else
        c.start_voice = -1;
    }
    c.sounding.sample = sample;
    c.volume = info->volume;
    c.tuning = info->tuning;
  }
}

// Commands 1 and 2 share one speed, so a zero parameter continues the last slide of either.
static void set_pitch_slide(CHANNEL_STATE &c, int param, int direction) {
  c.pitch_slide_on = -1;
  if (param != 0) c.pitch_slide_speed = param * 4;
  c.pitch_slide_speed = direction * std::abs(c.pitch_slide_speed);
}

void parse_pro_pitch_slide_up(modux_player *p, int chn, int param) {
  set_pitch_slide(p->ci[chn], param, -1);
}

void parse_pro_pitch_slide_down(modux_player *p, int chn, int param) {
  set_pitch_slide(p->ci[chn], param, 1);
}

void parse_slide2period(modux_player *p, int chn, int speed, int note) {
  CHANNEL_STATE &c = p->ci[chn];
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    // IT: the cell's note set the target already; Gxx shares its memory with E and F unless
    // compatible Gxx.
    if (speed) c.tone_porta_memory = speed;
    if (!mod_rule(p, RULE_IT_COMPAT_GXX) && speed) c.porta_memory = speed;
    c.slide2period_on = -1;
    return;
  }
  if (c.period == 0) return;
  const int sign = c.slide2period_speed < 0 ? -1 : 1;
  if (speed > 0) c.slide2period_speed = sign * speed * 4;
  if (note > 0) c.slide2period_target = note2period(p, note - 1, c.tuning);
  // ST3's target stays within its periods' 15 bits.
  if (mod_rule(p, RULE_ST3_CHANNEL) && c.slide2period_target > ST3_LOWEST_PERIOD)
    c.slide2period_target = ST3_LOWEST_PERIOD;
  // ProTracker has no target once the note is there.
  if (mod_rule(p, RULE_PROTRACKER_CHANNEL) && c.slide2period_target == c.period)
    c.slide2period_target = 0;
  // FT2 chooses the direction only when a note gives the target, and keeps it afterwards.
  if (note > 0 || !mod_rule(p, RULE_FT2_TICK_COUNTS)) {
    c.slide2period_speed = std::abs(c.slide2period_speed);
    if (c.slide2period_target > c.period) c.slide2period_speed = -c.slide2period_speed;
  }
  if (c.slide2period_target != 0) c.slide2period_on = -1;
}

void parse_vibrato(modux_player *p, int chn, int param, int shift) {
  CHANNEL_STATE &c = p->ci[chn];
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    // IT: Hxy's depth counts 4 of Uxy's.
    c.vibrato_on = -1;
    if (param >> 4) c.vibrato_speed = (param >> 4) * 4;
    if (param & 15) c.vibrato_depth = (param & 15) * (shift == 5 ? 4 : 1);
    return;
  }
  if (c.period == 0) return;
  c.vibrato_on = -1;
  c.vibrato_shift = shift;
  if ((param >> 4) & 15) c.vibrato_speed = ((param >> 4) & 15) * 4;
  if (param & 15) c.vibrato_depth = param & 15;
}

void parse_tremolo(modux_player *p, int chn, int param, int shift) {
  CHANNEL_STATE &c = p->ci[chn];
  c.tremolo_on = -1;
  c.tremolo_shift = shift;
  if ((param >> 4) & 15) c.tremolo_speed = ((param >> 4) & 15) * 4;
  if (param & 15) c.tremolo_depth = param & 15;
}

void parse_sample_offset(modux_player *p, int chn, const NOTE_INFO &cell, int sample) {
  CHANNEL_STATE &c = p->ci[chn];
  const int param = cell.param;
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    // IT: every Oxx moves the sounding note's start, SAx giving the high byte; past the sample's
    // end the note starts at 0, unless old effects.
    const MODUX *mod = p->of;
    NOTE_STATE &n = c.sounding;
    if (param) c.sample_offset = param << 8;
    n.offset = (c.offset_high << 16) + c.sample_offset;
    if (mod->sample_info && n.sample >= 0 && n.offset >= mod->sample_info[n.sample].length &&
        !mod_rule(p, RULE_IT_OLD_EFFECTS))
      n.offset = 0;
    return;
  }
  // FT2 reads no offset beside a tone portamento, which starts no note.
  if (mod_rule(p, RULE_FT2_TICK_COUNTS) && ((cell.volume & 0xF0) == 0xF0)) return;
  // Only with a note or a sample to start; a zero parameter reuses the last offset.
  if (cell.note > 0 || sample >= 0) {
    c.set_offset = -1;
    c.start_voice = -1;
    if (param != 0) c.sample_offset = param * 256;
    c.note_offset = c.sample_offset;
  }
}

void parse_pro_volume_slide(modux_player *p, int chn, int param) {
  // A zero parameter writes nothing, so a volume-column slide of the same cell stays.
  const int x = (param >> 4) & 15;
  const int y = param & 15;
  if (x != 0)
    p->ci[chn].volume_slide = x;
  else if (y != 0)
    p->ci[chn].volume_slide = -y;
}

void parse_pro_arpeggio(modux_player *p, int chn, int param) {
  CHANNEL_STATE &c = p->ci[chn];
  if (c.period != 0 && param != 0) {
    c.arpeggio_param = param;
    c.arpeggio_on = -1;
  }
}

// E1x and E2x share one signed memory: E10 repeats only an earlier E1x, E20 only an E2x.
static void fine_pitch_slide(modux_player *p, CHANNEL_STATE &c, int x, int direction) {
  if (c.period == 0) return;
  if (x != 0)
    c.fine_pitch_memory = 4 * x;
  else if (c.fine_pitch_memory * direction < 0)
    return;
  c.fine_pitch_memory = direction * std::abs(c.fine_pitch_memory);
  c.period += c.fine_pitch_memory;
  hold_to_pitch_limits(p, c);
}

void parse_extended_command(modux_player *p, int chn, int param) {
  CHANNEL_STATE &c = p->ci[chn];
  NOTE_STATE &n = c.sounding;
  const int x = param & 15;
  // The IT family reads its row's loop and delays here, in channel order; the others in the
  // row's first pass.
  const bool in_turn = mod_rule(p, RULE_IT_VIRTUAL_VOICES) != 0;
  switch (param >> 4) {
    case 0x1:  // MOD fine slide up
      fine_pitch_slide(p, c, x, -1);
      break;
    case 0x2:  // MOD fine slide down
      fine_pitch_slide(p, c, x, 1);
      break;
    case 0x3:
      if (mod_rule(p, RULE_FT2_TICK_COUNTS)) c.glissando = x ? -1 : 0;
      break;
    case 0x4: c.vibrato_waveform = x; break;
    case 0x7: c.tremolo_waveform = x; break;
    case 0x6:
      if (in_turn) do_pattern_loop(p, chn, param);
      break;
    case 0x8:
      if (in_turn) {
        c.pan = n.pan = x * 256 / 15;
        c.surround = n.surround = 0;
        c.pan_delta = 0;
      } else
        c.pan = x * 17;
      break;
    case 0x9:
      c.retrig_interval = x;
      // FT2's E90 restarts the sample on the row's first tick, with or without a note.
      if (x == 0 && mod_rule(p, RULE_FT2_TICK_COUNTS) && c.period != 0) c.start_voice = -1;
      break;
    case 0xA: c.volume += x; break;
    case 0xB: c.volume -= x; break;
    case 0xC:
      if (in_turn) {
        c.cut_tick = x ? x : 1;
        break;
      }
      c.cut_tick = x;
      if (x == 0) c.volume = 0;
      break;
    case 0xD: c.delay_sample = x; break;
    case 0xE:  // IT: the row's first SEx, SE0 included, is the one
      if (in_turn && p->row_repeats < 0) p->row_repeats = x;
      break;
    case 0x10:  // S3M SAx: the high pan bits, centre at 8
      c.pan = (x <= 7 ? x + 8 : x - 8) * 17;
      break;
    case 0x11:  // XM fine slide up, its own memory
      if (c.period == 0) break;
      if (x != 0) c.xm_fine_up_memory = -4 * x;
      c.period += c.xm_fine_up_memory;
      break;
    case 0x12:  // XM fine slide down
      if (c.period == 0) break;
      if (x != 0) c.xm_fine_down_memory = 4 * x;
      c.period += c.xm_fine_down_memory;
      break;
    case 0x13:  // XM fine volume up
      if (x != 0) c.fine_vol_up_memory = x;
      c.volume += c.fine_vol_up_memory;
      c.tick_volume += c.fine_vol_up_memory;
      break;
    case 0x14:  // XM fine volume down
      if (x != 0) c.fine_vol_down_memory = -x;
      c.volume += c.fine_vol_down_memory;
      c.tick_volume += c.fine_vol_down_memory;
      break;
    case 0x15:  // S6x: every one of the row adds its ticks
      if (in_turn) p->row_extra_ticks += x;
      break;
    case 0x16:  // S5x: the panbrello's wave starts again
      c.panbrello_waveform = x;
      c.panbrello_pos = 0;
      break;
    case 0x17:
      switch (x) {
        case 0:
        case 1:
        case 2:  // past notes: cut, off, fade
          for (NOTE_STATE &b : p->background)
            if (b.active && b.channel == chn) {
              if (x == 0) b.fade = 0;
              if (x == 1) b.key_off = -1;
              if (x == 2) b.fading = -1;
            }
          break;
        case 3:
        case 4:
        case 5:
        case 6: c.new_note_action = x - 3; break;
        case 7: n.vol_env.flags &= ~1; break;
        case 8: n.vol_env.flags |= 1; break;
        case 9: n.pan_env.flags &= ~1; break;
        case 10: n.pan_env.flags |= 1; break;
        case 11: n.pitch_env.flags &= ~1; break;
        case 12: n.pitch_env.flags |= 1; break;
        default: break;
      }
      break;
    case 0x19:
      if (x == 1) c.surround = n.surround = -1;
      break;
    case 0x1A: c.offset_high = x; break;
    case 0x1F: c.midi_macro = x; break;
    default:
      // E0x, E5x (finetune) and EFx are not played; the other families read E6x, EEx and S6x
      // in the row's first pass.
      break;
  }
}

// ---------------------------------------------------------------------------------------------
// Per-tick work
// ---------------------------------------------------------------------------------------------

// One point of the vibrato, tremolo and panbrello wave (waveform 0 sine, 1 ramp, 2 square,
// 3 random) at a position of the 256 steps of its cycle, signed. The units are the tracker's:
// the IT family's sine has 256 steps and amplitude 64, its ramp falls from 64 and its random
// wave is a fixed sequence of the position; the others read the sine of vib_table (64 steps,
// amplitude 255), a ramp that rises from 0 and the player's noise, and falls in the half-cycle
// of ramp_pos (FT2's tremolo reads the vibrato's; otherwise pos).
static int wave_value(modux_player *p, int waveform, int pos, int ramp_pos) {
  pos &= 255;
  ramp_pos &= 255;
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    switch (waveform & 3) {
      case 1: return 64 - (pos >> 1);
      case 2: return pos < 128 ? 64 : 0;
      case 3: return ((pos * 7919 + 13) % 129) - 64;
      default: return static_cast<int>(std::lround(64.0 * std::sin(pos * M_PI / 128.0)));
    }
  }
  const int i = (pos >> 2) & 31;
  int v;
  switch (waveform & 3) {
    case 0: v = vib_table[i]; break;
    case 1: v = ramp_pos < 128 ? i * 8 : 255 - i * 8; break;
    case 2: v = 255; break;
    default: v = noise_0_254(p); break;
  }
  return pos < 128 ? v : -v;
}

// A wave's point times a depth, shifted right: the size rounds down, the sign stays the wave's.
static int wave_depth(int wave, int depth, int shift) {
  const int d = (std::abs(wave) * depth) >> shift;
  return wave < 0 ? -d : d;
}

// Positions wrap at 8 bits: 256 is one full cycle of the wave.
static signed char advance_wave(signed char pos, int speed) {
  return static_cast<signed char>(static_cast<uint8_t>(pos + speed));
}

void do_vibrato(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  int wave = wave_value(p, c.vibrato_waveform, c.vibrato_pos, c.vibrato_pos);
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    // IT: moving on before each tick, but under old effects the row's first, which keeps the
    // last tick's; a depth of 15 (60 here) swings the pitch by about 0.9 semitone, old effects
    // twice that, downwards first. A vibrato in both columns runs twice a tick.
    const bool old = mod_rule(p, RULE_IT_OLD_EFFECTS) != 0;
    if (!p->first_tick || !old) {
      c.vibrato_delta = 0;
      for (int times = c.vibrato_twice ? 2 : 1; times > 0; times--) {
        c.vibrato_pos = advance_wave(c.vibrato_pos, c.vibrato_speed);
        wave = wave_value(p, c.vibrato_waveform, c.vibrato_pos, c.vibrato_pos);
        int d = old ? -wave * c.vibrato_depth / 32 : wave * c.vibrato_depth / 64;
        // IT's linear pitch moves by 1/64 semitone only in its 16 fine steps, beyond by 1/16.
        if (it_linear(p) && std::abs(d) >= 16) d = d / 4 * 4;
        c.vibrato_delta += it_linear(p) ? d : -d;
      }
    }
    c.period_delta += c.vibrato_delta;
    return;
  }
  if (c.vibrato_twice && !p->first_tick) {
    // FT2 runs a vibrato of both columns twice a tick: the second from where the first moved it.
    c.vibrato_pos = advance_wave(c.vibrato_pos, c.vibrato_speed);
    wave = wave_value(p, c.vibrato_waveform, c.vibrato_pos, c.vibrato_pos);
  }
  c.tick_period = c.period + wave_depth(wave, c.vibrato_depth, c.vibrato_shift);
  if (!p->first_tick) c.vibrato_pos = advance_wave(c.vibrato_pos, c.vibrato_speed);
}

void do_tremolo(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    // IT: on every tick, the row's first included, added to the sounding note's volume for
    // this tick.
    c.volume_delta +=
        wave_value(p, c.tremolo_waveform, c.tremolo_pos, c.tremolo_pos) * c.tremolo_depth / 32;
    c.tremolo_pos = advance_wave(c.tremolo_pos, c.tremolo_speed);
    return;
  }
  // FT2's ramp falls in the vibrato's half-cycle, not the tremolo's.
  const int ramp = mod_rule(p, RULE_FT2_TICK_COUNTS) ? c.vibrato_pos : c.tremolo_pos;
  const int wave = wave_value(p, c.tremolo_waveform, c.tremolo_pos, ramp);
  c.tick_volume = c.volume + wave_depth(wave, c.tremolo_depth, c.tremolo_shift);
  if (!p->first_tick) c.tremolo_pos = advance_wave(c.tremolo_pos, c.tremolo_speed);
}

void do_panbrello(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  c.pan_delta =
      wave_value(p, c.panbrello_waveform, c.panbrello_pos, c.panbrello_pos) * c.panbrello_depth / 8;
  c.panbrello_pos += c.panbrello_speed;
}

void do_volume_slide(modux_player *p, int chn, int by) {
  CHANNEL_STATE &c = p->ci[chn];
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    c.sounding.volume = clamp_int(c.sounding.volume + by, 0, 64);
    return;
  }
  c.volume += by;
  c.tick_volume += by;
}

void do_pitch_slide(modux_player *p, int chn, int by) {
  CHANNEL_STATE &c = p->ci[chn];
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    it_slide(p, c.sounding.period, -by);
    return;
  }
  c.period += by;
  c.tick_period += by;
}

void do_slide2period(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    // IT: the sounding note toward porta_target (set by the cell's note) at Gxx's memory.
    NOTE_STATE &n = c.sounding;
    if (!c.porta_target) return;
    const int speed = c.tone_porta_memory * 4;
    const bool up = c.porta_target > n.period;
    it_slide(p, n.period, up ? speed : -speed);
    if ((n.period >= c.porta_target) == up) {
      n.period = c.porta_target;
      c.porta_target = 0;
    }
    return;
  }
  c.period -= c.slide2period_speed;
  if (c.slide2period_speed > 0) {
    if (c.period <= c.slide2period_target) {
      c.period = c.slide2period_target;
      // FT2 then slides the pitch down to the target: one below it comes back at once.
      if (mod_rule(p, RULE_FT2_TICK_COUNTS)) c.slide2period_speed = -c.slide2period_speed;
    }
  } else if (c.period > c.slide2period_target) {
    c.period = c.slide2period_target;
  }
  c.tick_period = c.glissando ? ft2_note_period(p, c, 0) : c.period;
  // ProTracker forgets the target it reached: a later 300 slides nowhere.
  if (mod_rule(p, RULE_PROTRACKER_CHANNEL) && c.period == c.slide2period_target) {
    c.slide2period_target = 0;
    c.slide2period_on = 0;
  }
}

// 65536 / 2^(n / 12): the period of a note n semitones up, as a fraction of the period.
static const int semitone_up[16] = {
    65536, 61858, 58386, 55109, 52016, 49097, 46341, 43740,
    41285, 38968, 36781, 34716, 32768, 30929, 29193, 27554,
};

// The period n semitones above one: the linear table counts 64 units a semitone, the others
// are inversely proportional to the frequency.
static int exact_period_up(modux_player *p, int period, int n) {
  if (p->mi.flags & MODUX_LINEAR) return period - 64 * n;
  return static_cast<int>((static_cast<long long>(period) * semitone_up[n & 15] + 32768) >> 16);
}

int ft2_note_period(modux_player *p, const CHANNEL_STATE &c, int n) {
  const int top = 95;  // B-7
  int lo = 0;
  for (int s = top; s > 0; s--) {
    // Half a semitone below note s, in the note's own finetune.
    const int below = (note2period(p, s, c.tuning) + note2period(p, s - 1, c.tuning)) / 2;
    if (c.period < below) {
      lo = s;
      break;
    }
  }
  const int sixteenths = 16 * (lo + n) + ((c.tuning - 128) >> 3) + 16;
  if (sixteenths >= 16 * top + 31) return note2period(p, top + 1, 128);
  return note2period(p, lo + n, c.tuning);
}

// The period n semitones up (down when negative) from one, in equal-tempered steps.
static int period_semitones_up(int period, int n) {
  int octaves = 0;
  for (; n < 0; n += 12) octaves++;
  const long long up = (static_cast<long long>(period) * semitone_up[n & 15] + 32768) >> 16;
  return static_cast<int>(clamp_int(up << octaves, 0, 1 << 30));
}

// The period of ProTracker's note k (0..35, C-1 to B-3) for a sample's tuning, in quarter units:
// the period a MOD writes at finetune 0, its finetune's table otherwise.
static int protracker_note_period(int k, int tuning) {
  const int f = protracker_finetune(tuning);
  if (f <= 0) return protracker_notes[k] * 4;
  return (protracker_octave[f][k % 12] * 4) >> (k / 12);
}

// ProTracker's table holds 36 notes, C-1 to B-3, with a 0 after them; its arpeggio finds the
// playing note there and reads n entries on, past the end the 0 (a silent tick, answered as 0)
// and then the table again from C-1. Answers the step's period; a note outside the table steps n
// equal-tempered semitones.
static int protracker_arpeggio_period(const CHANNEL_STATE &c, int n) {
  static const int NOTES = 36;
  int best = -1;
  long long best_gap = 0;
  for (int k = 0; k < NOTES; k++) {
    const long long gap =
        std::llabs(static_cast<long long>(c.period) - protracker_note_period(k, c.tuning));
    if (best < 0 || gap < best_gap) best = k, best_gap = gap;
  }
  // Outside the table by more than half a semitone (3 %): no table entry is read.
  if (best_gap * 34 > c.period) return period_semitones_up(c.period, n);
  const int entry = best + n;
  if (entry == NOTES) return 0;
  return protracker_note_period(entry < NOTES ? entry : entry - NOTES - 1, c.tuning);
}

void do_arpeggio(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  const int tick = row_tick(p);
  const bool ft2 = mod_rule(p, RULE_ARPEGGIO_FROM_END) != 0;
  const int from = ft2 ? p->mi.speed - tick : tick;
  int step = (from % 3 + 3) % 3;
  // FT2 reads its 16-entry step table past the end for rows of more ticks: a base step at 16
  // ticks left, the second step above.
  if (ft2 && from >= 16) step = from == 16 ? 0 : 2;
  const int n = step == 1 ? (c.arpeggio_param >> 4) & 15 : c.arpeggio_param & 15;
  if (mod_rule(p, RULE_IT_VIRTUAL_VOICES)) {
    // IT: semitones above the sounding note, added to its pitch for this tick.
    const int semis = step == 0 ? 0 : n;
    if (it_linear(p))
      c.period_delta += semis * UNITS_PER_NOTE;
    else
      c.period_delta += it_amiga_units(c.sounding.period, -semis);
    return;
  }
  if (mod_rule(p, RULE_ARPEGGIO_WRAPS)) {
    const int period = step == 0 ? c.period : protracker_arpeggio_period(c, n);
    c.tick_volume = period == 0 ? 0 : c.volume;
    if (period != 0) c.tick_period = period;
    return;
  }
  if (step == 0)
    c.tick_period = c.period;
  else if (ft2)
    c.tick_period = ft2_note_period(p, c, n);
  else if (mod_rule(p, RULE_EXACT_ARPEGGIO))
    c.tick_period = exact_period_up(p, c.period, n);
  else
    c.tick_period = find_lower_period(p, c.period, n);
}

void do_delay_sample(modux_player *p, int chn) {
  CHANNEL_STATE &c = p->ci[chn];
  if (row_tick(p) == c.delay_sample) {
    c.start_voice = -1;
    c.delay_sample = 0;
  } else {
    c.start_voice = 0;
  }
}

// ---------------------------------------------------------------------------------------------
// Row-level commands (the tick's first pass)
// ---------------------------------------------------------------------------------------------

void do_position_jump(modux_player *p, int param) {
  const MODUX *mod = p->of;
  if (!mod) return;
  const int orders = mod_playable_orders(mod);
  if (!enable_lasttrk_loop && !(p->mi.order < orders - 1)) return;
  // A negative target (a 16-bit parameter read with its sign) goes to the first position.
  int target = param < 0 ? 1 : param + 1;
  // Past the end a looping song or a render goes on at the restart position.
  if (mod_wraps_past_end(p) && target > orders) target = mod_restart_order(p) + 1;
  p->mi.new_order = target;
  p->row_jumped = -1;
  if (mod_rule(p, RULE_LOOP_FT2)) p->mi.loop_next_row = 0;  // FT2: the break row is 0 again
  // ProTracker and FT2 start a jump at row 0 even after a break earlier in the row.
  if (p->mi.new_row == 0 || mod_rule(p, RULE_JUMP_RESETS_BREAK)) p->mi.new_row = 1;
}

void do_pattern_break(modux_player *p, int param) {
  const MODUX *mod = p->of;
  if (!mod) return;
  const int orders = mod_playable_orders(mod);
  if (p->mi.new_order == 0) p->mi.new_order = p->mi.order + 2;
  // Two decimal digits. A parameter holds at most 16 bits; a negative one breaks to row 0.
  // A row beyond the target pattern is held to its last row when the jump is taken, because
  // a position jump later in the row can still change which pattern that is.
  const int digits = clamp_int(param, 0, 0xFFFF);
  const int row = (digits >> 4) * 10 + (digits & 15);
  p->mi.new_row = row + 1;
  if (mod_rule(p, RULE_LOOP_FT2)) p->mi.loop_next_row = row + 1;
  if (mod_wraps_past_end(p) && p->mi.new_order > orders) p->mi.new_order = mod_restart_order(p) + 1;
}

void do_pro_tempo_bpm(modux_player *p, int param) {
  if (param <= 0) return;
  // The trackers read 20 and above as a tempo; the engine's own rules take 20 as a speed.
  if (param < 32 || (param == 32 && !mod_rule(p, RULE_TEMPO_FROM_32))) {
    p->mi.speed = param;
    return;
  }
  // ProTracker's timer takes a new tempo only after the tick that sets it.
  if (protracker_proper(p)) {
    p->next_tempo = param;
    return;
  }
  p->mi.tempo = param;
  p->timer_request = -1;
}

void do_pattern_loop(modux_player *p, int chn, int param) {
  CHANNEL_STATE &c = p->ci[chn];
  const int x = param & 15;
  if (x == 0) {
    c.loop_row = p->mi.row;
    return;
  }
  if (c.loop_times > 0)
    c.loop_times -= 1;
  else
    c.loop_times = x;
  if (c.loop_times > 0) {
    c.loop_on = -1;
    p->row_jumped = 0;  // IT: the later of a loop and a position jump in one row wins
    if (mod_rule(p, RULE_LOOP_FT2)) p->mi.loop_next_row = c.loop_row + 1;
  } else if (!mod_rule(p, RULE_LOOP_FT2))
    c.loop_row = p->mi.row + 1;  // FT2 keeps the start row: a later E6x loops to it again
}

// ---------------------------------------------------------------------------------------------
// Pitch of the IT family: a frequency in whole hertz, slid on a linear or an Amiga scale
// ---------------------------------------------------------------------------------------------

// Linear pitch: 768 units an octave (64 a semitone); unit 0 is 1 Hz, so a pitch is 768 x log2 Hz.
static const int LINEAR_OCTAVE = 768;
// The note at the sample's C5 speed.
static const int C5_NOTE = 60;
// Amiga slides move a period that is this over the frequency: 1712 (C-5) plays 8363 Hz.
static const long long AMIGA_PERIOD_HZ = 8363LL * 1712;

bool it_linear(modux_player *p) {
  const MODUX *mod = p->of;
  return (mod->rules & RULE_IT_LINEAR) != 0;
}

// The pitch of a note (0..119) of a sample: its frequency, cut down to the hertz.
int it_note_period(modux_player *p, int note, int sample) {
  const MODUX *mod = p->of;
  const int c5 = mod->sample_info && sample >= 0 && sample < mod->sample_count
                     ? mod->sample_info[sample].tuning
                     : 8363;
  if (mod->period_table_notes && note >= 0) {
    // C-5's period over the note's, an octave doubling it.
    const long long c5_period = noteperiod[0];
    const int octave = note / 12 - C5_NOTE / 12, period = noteperiod[note % 12];
    const long long hz = octave >= 0 ? (c5 * c5_period << octave) / period
                                     : c5 * c5_period / (static_cast<long long>(period) << -octave);
    return clamp_int(hz, 1, 1 << 30);
  }
  const double hz = c5 * std::exp2((note - C5_NOTE) / 12.0);
  return clamp_int(static_cast<long long>(hz), 1, 1 << 30);
}

// Slides a pitch up (positive units) or down: 768ths of an octave, or the Amiga period (4 units
// per step) less the units, the frequency cut down to the hertz after each step.
void it_slide(modux_player *p, int &period, int units) {
  if (it_linear(p)) {
    period = clamp_int(std::llround(period * std::exp2(units / static_cast<double>(LINEAR_OCTAVE))),
                       0, 1 << 30);
    return;
  }
  // A period slid to 0 or below plays as high as a pitch can be.
  const long long below = AMIGA_PERIOD_HZ - static_cast<long long>(units) * period;
  period = below > 0 ? clamp_int(period * AMIGA_PERIOD_HZ / below, 1, 1 << 30) : 1 << 30;
}

// The Amiga period units that take a pitch down by semis semitones (up when negative).
int it_amiga_units(int period, int semis) {
  if (period <= 0) return 0;
  return static_cast<int>(AMIGA_PERIOD_HZ / static_cast<double>(period) *
                          (std::exp2(semis / 12.0) - 1));
}

// Frequency in Hz of a pitch moved up by units 768ths of an octave.
int it_pitch_hz(modux_player *, long long period, double units) {
  if (period <= 0) return 0;
  const double hz = units != 0 ? period * std::exp2(units / LINEAR_OCTAVE) : period;
  return hz > 2.0e9 ? 2000000000 : static_cast<int>(hz);
}

// Interrupt code needs no memory locking on this platform; install_mod calls it with the others.
void lock_modux_player2(void) {}
