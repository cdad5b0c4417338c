/* A host that speaks only AviSynth+'s C interface: loads a plugin into AviSynth.dll, evaluates
 * a script and writes every frame's planes (Y, U, V, rows without padding) to the output files
 * in turn, frame i to output i % count. Prints the clip's frame count and size; a script error
 * is printed as "error: <message>" with exit status 2.
 *   avs_frames PLUGIN SCRIPT OUTPUT...                                                        */
#include <avisynth_c.h>

#include <stdio.h>
#include <stdlib.h>

enum { kMaxOutputs = 4 };

static int Fail(AVS_ScriptEnvironment* env, const char* message) {
  printf("error: %s\n", message ? message : "(none)");
  if (env) avs_delete_script_environment(env);
  return 2;
}

static int WritePlanes(const AVS_VideoFrame* frame, const AVS_VideoInfo* vi, FILE* out) {
  static const int planes[3] = {AVS_PLANAR_Y, AVS_PLANAR_U, AVS_PLANAR_V};
  const int count = avs_is_planar(vi) && !avs_is_y(vi) ? 3 : 1;
  for (int p = 0; p < count; ++p) {
    const BYTE* row = avs_get_read_ptr_p(frame, planes[p]);
    const int pitch = avs_get_pitch_p(frame, planes[p]);
    const int size = avs_get_row_size_p(frame, planes[p]);
    const int height = avs_get_height_p(frame, planes[p]);
    for (int y = 0; y < height; ++y, row += pitch)
      if (fwrite(row, 1, (size_t)size, out) != (size_t)size) return 0;
  }
  return 1;
}

int main(int argc, char** argv) {
  if (argc < 4 || argc - 3 > kMaxOutputs) {
    fprintf(stderr, "usage: avs_frames PLUGIN SCRIPT OUTPUT...\n");
    return 64;
  }
  AVS_ScriptEnvironment* env = avs_create_script_environment(AVISYNTH_INTERFACE_VERSION);
  if (!env) return Fail(NULL, "no script environment");

  AVS_Value loaded = avs_invoke(env, "LoadPlugin", avs_new_value_string(argv[1]), NULL);
  if (avs_is_error(loaded)) return Fail(env, avs_as_error(loaded));
  avs_release_value(loaded);

  AVS_Value result = avs_invoke(env, "Eval", avs_new_value_string(argv[2]), NULL);
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
  for (int n = 0; n < vi->num_frames && status == 0; ++n) {
    AVS_VideoFrame* frame = avs_get_frame(clip, n);
    if (!frame) {
      status = Fail(NULL, avs_clip_get_error(clip));
      break;
    }
    if (!WritePlanes(frame, vi, out[n % outputs])) status = Fail(NULL, "can't write an output file");
    avs_release_video_frame(frame);
  }
  for (int i = 0; i < outputs; ++i) fclose(out[i]);
  printf("frames=%d size=%dx%d\n", vi->num_frames, vi->width, vi->height);
  avs_release_clip(clip);
  avs_delete_script_environment(env);
  return status;
}
