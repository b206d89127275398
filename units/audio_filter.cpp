#include "units/audio_filter.h"

#include <cstring>
#include <new>

#include "framework/dsp_services.h"
#include "units/biquad_filters.h"

namespace {

const DspPort portTemplate = makePortTemplate("Audio Filter");

void design(CFilter& filter, const AudioFilterBlock& block) {
    filter.q = block.q;
    filter.frequency = block.crossoverFrequency;
    filter.ComputeCoefficients();
}

int32_t init(void* raw) {
    AudioFilterBlock* block = static_cast<AudioFilterBlock*>(raw);
    CLowPassFilter* lowPass = new (std::nothrow) CLowPassFilter;
    CHighPassFilter* highPass = new (std::nothrow) CHighPassFilter;
    if (lowPass == nullptr || highPass == nullptr) {
        delete lowPass;
        delete highPass;
        block->lowPass = nullptr;
        block->highPass = nullptr;
        return 0;
    }
    design(*lowPass, *block);
    design(*highPass, *block);
    block->lowPass = lowPass;
    block->highPass = highPass;
    return 1;
}

// Redesigns at the filters' current rate; the history carries on.
int32_t update(void* raw) {
    AudioFilterBlock* block = static_cast<AudioFilterBlock*>(raw);
    if (block->lowPass == nullptr || block->highPass == nullptr) return 0;
    design(*block->lowPass, *block);
    design(*block->highPass, *block);
    return 1;
}

// Accepts a block whose init failed or never ran (its pointers are null), and
// clears the pointers so a second quit does no harm.
int32_t quit(void* raw) {
    AudioFilterBlock* block = static_cast<AudioFilterBlock*>(raw);
    delete block->lowPass;
    delete block->highPass;
    block->lowPass = nullptr;
    block->highPass = nullptr;
    return 1;
}

void copyBytes(const AudioFilterBlock& block, int16_t* destination, int32_t bytes) {
    if (block.services != nullptr && block.services->copy != nullptr) {
        block.services->copy(destination, block.input, bytes);
    } else {
        std::memmove(destination, block.input, static_cast<size_t>(bytes));
    }
}

int32_t process(void* raw) {
    AudioFilterBlock* block = static_cast<AudioFilterBlock*>(raw);
    const int64_t bytes = static_cast<int64_t>(block->channels) * block->frames * 2;
    if (bytes > 0 && bytes <= INT32_MAX && block->input != nullptr && block->lowOutput != nullptr &&
        block->highOutput != nullptr) {
        copyBytes(*block, block->lowOutput, static_cast<int32_t>(bytes));
        copyBytes(*block, block->highOutput, static_cast<int32_t>(bytes));
    }
    // The filters run even without samples: a changed rate redesigns them.
    if (block->channels == 2 && block->lowPass != nullptr && block->highPass != nullptr) {
        // Both bands in one pass: the same bits, twice the recursions in flight.
        block->lowPass->AdoptRate(block->sampleRate);
        block->highPass->AdoptRate(block->sampleRate);
        CFilter::ProcessStereoPair(*block->lowPass, block->lowOutput, *block->highPass, block->highOutput,
                                   block->frames);
        return block->frames > 0 ? block->frames : 0;
    }
    if (block->lowPass != nullptr) {
        block->lowPass->Process(block->lowOutput, block->frames, block->channels, block->sampleRate);
    }
    if (block->highPass != nullptr) {
        block->highPass->Process(block->highOutput, block->frames, block->channels, block->sampleRate);
    }
    return block->frames > 0 ? block->frames : 0;
}

}  // namespace

const UnitEntries audioFilterUnit = {&portTemplate, init, quit, update, process, nullptr, nullptr};
