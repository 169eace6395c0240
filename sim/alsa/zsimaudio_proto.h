/*
 * Wire format between the ALSA plugin "zr450" (libasound_module_pcm_zr450.so,
 * which plays "mixcapture" and "mixplayback" off the radio) and its peer
 * (the simulator, or a test through zr_simaudio).
 *
 * Sockets: Unix SOCK_SEQPACKET, one per direction, the peer listens:
 *   $ZR450_SYSROOT/run/mixcapture.sock    capture streams connect here
 *   $ZR450_SYSROOT/run/mixplayback.sock   playback streams connect here
 * Every open PCM is one connection; several may be open at once (the
 * receive-audio capture and the modem host both capture).
 *
 * Every message is one packet: a header of two native-endian 32-bit words
 * { type, count } and a payload.
 *   ZSA_MSG_AUDIO  count frames of interleaved S16_LE stereo (count * 4 bytes),
 *                  at most ZSA_MAX_FRAMES frames: peer -> capture stream
 *                  (receiver audio), playback stream -> peer (transmit audio).
 *   ZSA_MSG_FAULT  peer -> stream, no payload: count is an errno value the
 *                  stream then fails with (a dead sound card), 0 heals it.
 *   ZSA_MSG_STALL  peer -> stream, no payload: count 1 stops the stream's
 *                  clock (a stalled sound card: nothing becomes ready), 0
 *                  lets it run on from where it stopped.
 *
 * Both sides send without blocking and drop what the other side has no room
 * for: a stalled peer never stalls the application and the reverse.
 */
#ifndef ZSIMAUDIO_PROTO_H
#define ZSIMAUDIO_PROTO_H

#include <stdint.h>

#define ZSA_MSG_AUDIO 1u
#define ZSA_MSG_FAULT 2u
#define ZSA_MSG_STALL 3u

#define ZSA_CHANNELS 2u
#define ZSA_FRAME_BYTES 4u
#define ZSA_MAX_FRAMES 1024u
#define ZSA_HEADER_BYTES 8u
#define ZSA_MAX_MSG_BYTES (ZSA_HEADER_BYTES + ZSA_MAX_FRAMES * ZSA_FRAME_BYTES)

#define ZSA_CAPTURE_SOCKET "/run/mixcapture.sock"
#define ZSA_PLAYBACK_SOCKET "/run/mixplayback.sock"

typedef struct {
    uint32_t type;
    uint32_t count;
} zsa_header_t;

#endif
