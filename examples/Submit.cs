// Sends one command file to the kolibra driver and waits for its result.
//   Submit.exe --data-dir DIR --slot N [--timeout S] FILE
// Exit codes (the same as `kolibra submit`): 0 printed ("finesco" and SR_OUT's
// lines on stdout); 1 not printed (SR_ERR's line on stderr; E521 too: safe to
// send again; or the slot stayed busy and the job was never sent); 2 bad usage;
// 3 uncertain (E520: check the ECR's last receipt before sending again);
// 4 timed out with SR_START still there (the job may still run).
// Builds with Debian's mono-mcs (mcs Submit.cs) and with the .NET SDK.
using System;
using System.Diagnostics;
using System.IO;
using System.Text;
using System.Threading;

static class Submit {
  const int Printed = 0, NotPrinted = 1, Usage = 2, Uncertain = 3, TimedOut = 4;
  static readonly Stopwatch Clock = Stopwatch.StartNew();

  // True once done() holds; false when the deadline (ms on Clock) passes first.
  static bool WaitUntil(Func<bool> done, long deadline) {
    while (!done()) {
      if (Clock.ElapsedMilliseconds >= deadline) return false;
      Thread.Sleep(100);  // look at the files ten times a second, never spin
    }
    return true;
  }

  // Writes under a temporary name, then renames it into place: the driver
  // never sees a part of the file. (Names beginning with ~KB are the driver's.)
  static void WriteWhole(string path, byte[] data) {
    string temp = path + ".tmp";
    using (var f = new FileStream(temp, FileMode.Create)) { f.Write(data, 0, data.Length); f.Flush(true); }
    if (File.Exists(path)) File.Replace(temp, path, null); else File.Move(temp, path);
  }

  static int Main(string[] args) {
    string dataDir = ".", file = null;
    int slot = 1, timeoutS = 120;
    bool ok = true;
    for (int i = 0; i < args.Length; i++) {
      string a = args[i], v = i + 1 < args.Length ? args[i + 1] : null;
      if (a == "--data-dir" && v != null) { dataDir = v; i++; }
      else if (a == "--slot" && int.TryParse(v, out slot) && slot >= 1 && slot <= 4) i++;
      else if (a == "--timeout" && int.TryParse(v, out timeoutS) && timeoutS > 0) i++;
      else if (file == null && !a.StartsWith("-")) file = a;
      else ok = false;
    }
    if (!ok || file == null || !File.Exists(file)) {
      Console.Error.WriteLine("usage: Submit --data-dir DIR --slot N [--timeout S] FILE");
      return Usage;
    }
    Func<string, string> jobFile = b => Path.Combine(dataDir, b + "." + slot.ToString("000"));
    string start = jobFile("SR_START"), err = jobFile("SR_ERR"), fin = jobFile("FINESCO"), output = jobFile("SR_OUT");
    long deadline = Clock.ElapsedMilliseconds + timeoutS * 1000L;
    // 1. Wait until the slot is free: a start file means a job runs or waits.
    if (!WaitUntil(() => !File.Exists(start), deadline)) {
      Console.Error.WriteLine("slot busy: job not sent, send it again");
      return NotPrinted;
    }
    // 2. Clear old results, so that they are never read as this job's.
    foreach (string old in new[] { fin, err, output }) File.Delete(old);
    // 3. The command file, whole, then the start file: the job is handed over.
    WriteWhole(jobFile("SR_DATI"), File.ReadAllBytes(file));
    WriteWhole(start, Encoding.ASCII.GetBytes("1\r\n"));
    // 4. The driver removes the start file once the result file is in place.
    if (!WaitUntil(() => !File.Exists(start), deadline)) {
      Console.Error.WriteLine("timed out with the start file still there: the job may still run");
      return TimedOut;
    }
    long grace = Math.Max(deadline, Clock.ElapsedMilliseconds + 2000);
    if (!WaitUntil(() => File.Exists(err) || File.Exists(fin), grace)) {
      Console.Error.WriteLine("start file gone without a result: uncertain, check the ECR");
      return Uncertain;
    }
    // 5. Read the result. Result files appear whole (renamed into place);
    // they are Windows-1252 text (Latin-1 reads the same letters of a code).
    Encoding text = Encoding.GetEncoding("iso-8859-1");
    if (File.Exists(err)) {
      string line = (File.ReadAllText(err, text) + "\r\n").Split('\r', '\n')[0];
      Console.Error.WriteLine(line);
      return line.StartsWith("E520") || line.Length == 0 ? Uncertain : NotPrinted;
    }
    Console.WriteLine("finesco");
    if (File.Exists(output)) Console.Write(File.ReadAllText(output, text).Replace("\r\n", "\n"));
    return Printed;
  }
}
