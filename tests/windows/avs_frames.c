/* A host that speaks only AviSynth+'s C interface: loads a plugin into AviSynth.dll, evaluates
 * a script and writes every frame's planes (Y, U, V, rows without padding) to the output files
 * in turn, frame i to output i % count at its place in display order. Prints the clip's frame
 * count and size, and for frames 0 and 1 the integer properties KorvalaView and _Matrix ("-"
 * when unset), then the seconds from the script's start to the last frame; a script error is
 * printed as "error: <message>" with exit status 2. Without outputs the frames are only asked for.
 *   avs_frames [-r] [-u] PLUGIN SCRIPT [OUTPUT...]
 * With -r the frames are asked for from the last to the first. The script string is in the ANSI
 * code page, as a script's strings are; with -u in UTF-8, as those of a script read as UTF-8. */
#include <windows.h>

#include <avisynth_c.h>
#include <shellapi.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kMaxOutputs = 4 };

static int Fail(AVS_ScriptEnvironment* env, const char* message) {
  printf("error: %s\n", message ? message : "(none)");
  if (env) avs_delete_script_environment(env);
  return 2;
}

static const int kPlanes[3] = {AVS_PLANAR_Y, AVS_PLANAR_U, AVS_PLANAR_V};

static int PlaneCount(const AVS_VideoInfo* vi) { return avs_is_planar(vi) && !avs_is_y(vi) ? 3 : 1; }

static long long FrameBytes(const AVS_VideoFrame* frame, const AVS_VideoInfo* vi) {
  long long bytes = 0;
  for (int p = 0; p < PlaneCount(vi); ++p)
    bytes += (long long)avs_get_row_size_p(frame, kPlanes[p]) * avs_get_height_p(frame, kPlanes[p]);
  return bytes;
}

static void PrintProperties(AVS_ScriptEnvironment* env, const AVS_VideoFrame* frame, int n) {
  static const char* const keys[2] = {"KorvalaView", "_Matrix"};
  const AVS_Map* map = avs_get_frame_props_ro(env, frame);
  printf("frame %d:", n);
  for (int k = 0; k < 2; ++k) {
    int error = 1;
    const int value = map ? (int)avs_prop_get_int(env, map, keys[k], 0, &error) : 0;
    if (error)
      printf(" %s=-", keys[k]);
    else
      printf(" %s=%d", keys[k], value);
  }
  printf("\n");
}

static int WritePlanes(const AVS_VideoFrame* frame, const AVS_VideoInfo* vi, FILE* out) {
  for (int p = 0; p < PlaneCount(vi); ++p) {
    const BYTE* row = avs_get_read_ptr_p(frame, kPlanes[p]);
    const int pitch = avs_get_pitch_p(frame, kPlanes[p]);
    const int size = avs_get_row_size_p(frame, kPlanes[p]);
    const int height = avs_get_height_p(frame, kPlanes[p]);
    for (int y = 0; y < height; ++y, row += pitch)
      if (fwrite(row, 1, (size_t)size, out) != (size_t)size) return 0;
  }
  return 1;
}

/* The command line's argument `index` in UTF-8 (argv holds it in the ANSI code page). */
static char* Utf8Argument(int index) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  char* text = NULL;
  if (wide && index < count) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide[index], -1, NULL, 0, NULL, NULL);
    text = n > 0 ? malloc((size_t)n) : NULL;
    if (text) WideCharToMultiByte(CP_UTF8, 0, wide[index], -1, text, n, NULL, NULL);
  }
  LocalFree(wide);
  return text;
}

int main(int argc, char** argv) {
  int reverse = 0, utf8 = 0, first = 1;
  for (; first < argc && argv[first][0] == '-'; ++first) {
    reverse |= strcmp(argv[first], "-r") == 0;
    utf8 |= strcmp(argv[first], "-u") == 0;
  }
  char* script = utf8 ? Utf8Argument(first + 1) : NULL;
  argc -= first - 1;
  argv += first - 1;
  if (argc < 3 || argc - 3 > kMaxOutputs || (utf8 && !script)) {
    fprintf(stderr, "usage: avs_frames [-r] [-u] PLUGIN SCRIPT [OUTPUT...]\n");
    return 64;
  }
  AVS_ScriptEnvironment* env = avs_create_script_environment(AVISYNTH_INTERFACE_VERSION);
  if (!env) return Fail(NULL, "no script environment");

  AVS_Value loaded = avs_invoke(env, "LoadPlugin", avs_new_value_string(argv[1]), NULL);
  if (avs_is_error(loaded)) return Fail(env, avs_as_error(loaded));
  avs_release_value(loaded);

  LARGE_INTEGER start, end, ticks;
  QueryPerformanceFrequency(&ticks);
  QueryPerformanceCounter(&start);
  AVS_Value result = avs_invoke(env, "Eval", avs_new_value_string(script ? script : argv[2]), NULL);
  if (avs_is_error(result)) return Fail(env, avs_as_error(result));
  if (!avs_is_clip(result)) return Fail(env, "the script gives no clip");
  AVS_Clip* clip = avs_take_clip(result, env);
  avs_release_value(result);
  const AVS_VideoInfo* vi = avs_get_video_info(clip);

  const int outputs = argc - 3;
  FILE* out[kMaxOutputs];
  for (int i = 0; i < outputs; ++i) {
    out[i] = fopen(argv[3 + i], "wb");
    if (!out[i]) return Fail(env, "can't open an output file");
  }
  int status = 0;
  for (int i = 0; i < vi->num_frames && status == 0; ++i) {
    const int n = reverse ? vi->num_frames - 1 - i : i;
    AVS_VideoFrame* frame = avs_get_frame(clip, n);
    if (!frame) {
      status = Fail(NULL, avs_clip_get_error(clip));
      break;
    }
    if (n < 2) PrintProperties(env, frame, n);
    FILE* to = outputs ? out[n % outputs] : NULL;
    if (to && (_fseeki64(to, (n / outputs) * FrameBytes(frame, vi), SEEK_SET) != 0 || !WritePlanes(frame, vi, to)))
      status = Fail(NULL, "can't write an output file");
    avs_release_video_frame(frame);
  }
  for (int i = 0; i < outputs; ++i) fclose(out[i]);
  QueryPerformanceCounter(&end);
  printf("frames=%d size=%dx%d\n", vi->num_frames, vi->width, vi->height);
  printf("seconds=%.3f\n", (double)(end.QuadPart - start.QuadPart) / (double)ticks.QuadPart);
  avs_release_clip(clip);
  avs_delete_script_environment(env);
  free(script);
  return status;
}
